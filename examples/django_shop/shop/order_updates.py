"""Bringing a stored Order up to date from a verified callback or an order-status query.

Callbacks are hints that may arrive twice or late, so they only move an order forward, with
conditional UPDATEs that are atomic in the database. A status query is authoritative and is
copied as it is.
"""

import logging

import vemrat_pay
from django.db.models import QuerySet
from django.utils import timezone

from .models import Order

logger = logging.getLogger(__name__)

Pay = Order.PayStatus

PAY_STATUS_CODES = {0: Pay.PENDING, 1: Pay.PAID, 2: Pay.FAILED, 3: Pay.EXPIRED}


def apply_callback(fields: dict[str, str]) -> None:
    """Record what a verified callback reports; repeating a callback changes nothing."""
    order_id = fields.get("order_id", "")
    status = fields.get("status", "")
    orders: QuerySet[Order] = Order.objects.filter(order_id=order_id)
    if not order_id or not orders.exists():
        logger.warning("callback for an unknown order %r", order_id)
        return
    now = timezone.now()
    pending = orders.filter(pay_status=Pay.PENDING)
    if status == "paid":
        pending.update(pay_status=Pay.PAID, updated=now)
    elif status in ("failed", "expired"):
        pending.update(pay_status=Pay(status), fail_reason=fields.get("reason", ""), updated=now)
    elif status in ("settled", "refunded"):
        # Both imply a payment, even if its own callback was lost.
        pending.update(pay_status=Pay.PAID, updated=now)
        if status == "settled":
            orders.update(settled=True, settle_amount=fields.get("settle_amount", ""), updated=now)
        else:
            orders.update(refunded=True, updated=now)
    else:
        logger.warning("callback with unknown status %r for order %s", status, order_id)


def apply_status(order: Order, status: vemrat_pay.OrderStatus) -> None:
    """Copy the service's answer to an order-status query into `order`."""
    pay_status = PAY_STATUS_CODES.get(status.pay_status)
    if pay_status is None:
        logger.warning("unknown pay_status %d for order %s", status.pay_status, order.order_id)
        return
    order.pay_status = pay_status
    order.settled = status.settle_status == 1
    order.settle_amount = status.settle_amount if order.settled else ""
    order.refunded = status.refund_status == 1
    order.fail_reason = status.fail_reason
    order.save(update_fields=["pay_status", "settled", "settle_amount", "refunded",
                              "fail_reason", "updated"])
