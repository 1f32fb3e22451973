"""Bringing a stored Payment up to date, one transaction under a row lock per change.

The service is asked first, outside any transaction; only then is the payment's row locked,
read again and changed, so that two workers that meet (two deliveries of one callback, a
callback and a reconcile) take turns, and the second finds nothing left to change.
"""

from __future__ import annotations

import logging
from dataclasses import dataclass
from decimal import Decimal, InvalidOperation

import vemrat_pay
from django.db import transaction
from django.utils import timezone

from . import status_codes
from .client import get_client
from .models import CallbackEvent, Payment
from .signals import announce_on_commit
from .transitions import Reported, plan

logger = logging.getLogger("vemrat_pay_django")

Status = Payment.Status


class OrderMismatch(Exception):
    """The service's order is not the one of this payment (another order id or amount)."""


@dataclass(frozen=True)
class Applied:
    transitions: tuple[str, ...]  # the announced ones, each sent as its signal
    description: str  # every change, for people ("" when nothing changed)


def refresh(payment: Payment) -> Applied | None:
    """Query the payment's order and apply the answer; None when no order id is known."""
    order_id = payment.order_id or reported_order_id(payment)
    if not order_id:
        return None
    return apply_order_status(payment, query(order_id))


def query(order_id: str) -> vemrat_pay.OrderStatus:
    """The service's state of the order. An answer about another order (or none: the module
    reads a missing order_id as "") is an error of the service, like any other."""
    status = get_client().query_order(order_id)
    if status.order_id != order_id:
        raise RuntimeError(f"the service answered about order {status.order_id!r}, "
                           f"not {order_id!r}")
    return status


def reported_order_id(payment: Payment) -> str:
    """The order id of the payment's latest verified callback, or ""."""
    event = (CallbackEvent.objects.filter(payment=payment, verified=True)
             .exclude(order_id="").order_by("-received_at", "-id").first())
    return event.order_id if event is not None else ""


def apply_order_status(payment: Payment, status: vemrat_pay.OrderStatus) -> Applied:
    """Store the service's answer to an order-status query for `payment`'s order.

    A payment whose order id is not known yet takes the id of `status` when the amounts
    agree (OrderMismatch otherwise). `payment` is reloaded.
    """
    reported = read_report(status)
    described = []
    with transaction.atomic():
        locked = Payment.objects.select_for_update().get(pk=payment.pk)
        if not locked.order_id:
            check_adoption(locked, status)
            locked.order_id = status.order_id
            described.append(f"order id {status.order_id} learned")
        elif locked.order_id != status.order_id:
            raise OrderMismatch(f"order {status.order_id} is not {locked.order_id}")
        copy_service_fields(locked, status)
        changes = plan(locked, reported)
        if "status" in changes.changes:
            described.append(f"{locked.status} -> {changes.changes['status']}")
        described.extend(name for name in ("settled", "refunded") if name in changes.changes)
        for name, value in changes.changes.items():
            setattr(locked, name, value)
        locked.refreshed_at = timezone.now()
        locked.save()
        announce_on_commit(locked, changes.transitions)
    payment.refresh_from_db()
    return Applied(changes.transitions, ", ".join(described))


def record_created(payment: Payment, result: vemrat_pay.PaymentResult) -> None:
    """The service created the order: keep its id and pay URL; the payment now waits."""
    with transaction.atomic():
        locked = Payment.objects.select_for_update().get(pk=payment.pk)
        if not result.order_id:
            logger.warning("the service created payment %s without an order id", payment.reference)
        elif not locked.order_id:
            locked.order_id = result.order_id
        locked.pay_url = result.pay_url
        # A callback may have moved it further already.
        if locked.status in (Status.CREATING, Status.UNCONFIRMED):
            locked.status = Status.PENDING if locked.order_id else Status.UNCONFIRMED
        locked.save()
    payment.refresh_from_db()


def record_refused(payment: Payment, detail: str) -> None:
    """The service answered with an error and created nothing."""
    with transaction.atomic():
        locked = Payment.objects.select_for_update().get(pk=payment.pk)
        if locked.status in (Status.CREATING, Status.UNCONFIRMED):
            locked.status = Status.FAILED
            locked.fail_reason = detail
            locked.save()
            announce_on_commit(locked, ["failed"])
    payment.refresh_from_db()


def record_unanswered(payment: Payment) -> None:
    """No answer came: the order may or may not exist, and only its callback can tell."""
    Payment.objects.filter(pk=payment.pk, status=Status.CREATING).update(
        status=Status.UNCONFIRMED, updated_at=timezone.now())
    payment.refresh_from_db()


def read_report(status: vemrat_pay.OrderStatus) -> Reported:
    pay = status_codes.meaning("pay_status", status.pay_status)
    settle = status_codes.meaning("settle_status", status.settle_status)
    refund = status_codes.meaning("refund_status", status.refund_status)
    for field, code, meaning in (("pay_status", status.pay_status, pay),
                                 ("settle_status", status.settle_status, settle),
                                 ("refund_status", status.refund_status, refund)):
        if meaning is None:
            logger.warning("order %s: unknown %s %d (see VEMRAT_PAY['STATUS_CODES'])",
                           status.order_id, field, code)
    return Reported(
        status=Status(pay) if pay is not None else None,
        settled=None if settle is None else settle == "settled",
        refunded=None if refund is None else refund == "refunded",
        fail_reason=status.fail_reason,
        settle_amount=decimal_or_none(status.settle_amount),
    )


def check_adoption(payment: Payment, status: vemrat_pay.OrderStatus) -> None:
    """Whether the service's order can be this payment's, whose order id never arrived."""
    if not status.order_id:
        raise OrderMismatch("the service reported no order id")
    if decimal_or_none(status.amount) != payment.amount:
        raise OrderMismatch(f"order {status.order_id} is for {status.amount!r}, "
                            f"not {payment.amount}")
    if Payment.objects.filter(order_id=status.order_id).exclude(pk=payment.pk).exists():
        raise OrderMismatch(f"order {status.order_id} belongs to another payment")


def copy_service_fields(payment: Payment, status: vemrat_pay.OrderStatus) -> None:
    payment.service_pay_status = status.pay_status
    payment.service_pay_status_text = status.pay_status_text
    payment.service_settle_status = status.settle_status
    payment.service_settle_status_text = status.settle_status_text
    payment.service_refund_status = status.refund_status
    payment.service_refund_status_text = status.refund_status_text
    payment.service_amount = status.amount
    payment.service_settle_amount = status.settle_amount
    payment.service_expired = status.expired
    payment.service_fail_reason = status.fail_reason


def decimal_or_none(text: str) -> Decimal | None:
    try:
        value = Decimal(text)
    except InvalidOperation:
        return None
    return value if value.is_finite() else None
