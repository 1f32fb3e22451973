"""What the sandbox service does for each request, independent of HTTP."""

from __future__ import annotations

import secrets
import time
from typing import Any, Callable, Mapping

from . import states
from .callbacks import make_callback
from .callbacks.outbox import Outbox
from .faults import FaultRules
from .protocol import Rejected, check_payment, check_status_query, normalise_amount
from .store import Store
from .timestamps import iso_utc, seconds_since_1970

DEFAULT_TIMESTAMP_WINDOW = 300.0
DEFAULT_ORDER_TTL = 1800.0

def status_fields(order: dict[str, Any]) -> dict[str, Any]:
    """The eleven members of an order-status answer."""
    return {
        "order_id": order["order_id"],
        "pay_status": order["pay_status"],
        "pay_status_text": states.PAY_STATUS_TEXT[order["pay_status"]],
        "settle_status": order["settle_status"],
        "settle_status_text": states.SETTLE_STATUS_TEXT[order["settle_status"]],
        "refund_status": order["refund_status"],
        "refund_status_text": states.REFUND_STATUS_TEXT[order["refund_status"]],
        "amount": order["amount"],
        "settle_amount": order["settle_amount"],
        "expired": order["expired"],
        "fail_reason": order["fail_reason"],
    }


class Service:
    """Payment creation, order-status queries and order transitions with their callbacks.

    `merchants` maps each community key to its sponsor key. `clock` gives the
    current time in seconds since 1970; timestamps may differ from it by at
    most `timestamp_window` seconds either way. New orders expire after
    `order_ttl` seconds unless paid or failed before. Callbacks go out through
    `outbox`, shaped by the callback rules of `faults`.
    """

    def __init__(self, merchants: Mapping[str, str], store: Store, outbox: Outbox,
                 faults: FaultRules, *, clock: Callable[[], float] = time.time,
                 timestamp_window: float = DEFAULT_TIMESTAMP_WINDOW,
                 order_ttl: float = DEFAULT_ORDER_TTL) -> None:
        self.merchants = dict(merchants)
        self.store = store
        self.outbox = outbox
        self.faults = faults
        self.clock = clock
        self.timestamp_window = timestamp_window
        self.order_ttl = order_ttl
        self.base_url = ""
        # Tells this run's versions from those of an earlier run on the same database.
        self._run = secrets.token_hex(4)

    def create_payment(self, form_body: str) -> dict[str, Any]:
        """Check the form and record a pending order; answers {"order_id", "pay_url"}."""
        now = self.clock()
        request = check_payment(form_body, self.merchants, now, self.timestamp_window)
        order_id = "VP" + secrets.token_hex(12)
        order = {
            "order_id": order_id,
            "community_key": request.community_key,
            "amount": request.amount,
            "currency": request.currency,
            "recipient_account": request.recipient_account,
            "user_notify_url": request.user_notify_url,
            "pay_mode": request.pay_mode,
            "return_url": request.return_url,
            "pay_status": states.PAY_PENDING,
            "settle_status": states.SETTLE_NONE,
            "refund_status": states.REFUND_NONE,
            "settle_amount": "0.00",
            "fail_reason": "",
            "created": iso_utc(now),
            "expired": iso_utc(now + self.order_ttl),
        }
        if not self.store.add_order(order, request.nonce, iso_utc(now)):
            raise Rejected(401, "replayed nonce")
        return {"order_id": order_id, "pay_url": f"{self.base_url}/pay/{order_id}"}

    def order_status(self, query: str) -> dict[str, Any]:
        """Check the signed query and answer the order's eleven status fields."""
        now = self.clock()
        request = check_status_query(query, self.merchants, now, self.timestamp_window)
        if not self.store.take_nonce(request.community_key, request.nonce, iso_utc(now)):
            raise Rejected(401, "replayed nonce")
        order = self.store.order(request.order_id)
        # Another merchant's order is reported as unknown as well.
        if order is None or order["community_key"] != request.community_key:
            raise Rejected(404, "unknown order")
        return status_fields(order)

    def order(self, order_id: str) -> dict[str, Any]:
        order = self.store.order(order_id)
        if order is None:
            raise Rejected(404, "unknown order")
        return order

    def record(self, order_id: str) -> dict[str, Any]:
        """The full internal record of an order, with its callback deliveries and their attempts."""
        record = self.order(order_id)
        record["callbacks"] = self.store.deliveries.of_order(order_id)
        return record

    def records(self) -> list[dict[str, Any]]:
        return self.store.orders()

    def version(self) -> str:
        """The version of what the dashboard shows: it changes with every order, delivery,
        attempt and fault rule."""
        return f"{self._run}.{self.store.changes()}.{self.faults.changes}"

    def apply(self, order_id: str, action: str, *, reason: str = "",
              settle_amount: str | None = None) -> dict[str, Any]:
        """Move the order by `action`, then send its callback; the updated order.

        Raises Rejected(404) for an unknown order, Rejected(400) for a bad settle
        amount and states.Conflict for an action the order's state forbids. Paying
        or failing an order past its expiry expires it (with its callback) and
        raises Conflict.
        """
        if action not in states.ACTIONS:
            raise Rejected(404, f"unknown action: {action}")
        if settle_amount is not None:
            settle_amount = normalise_amount(settle_amount)
        now = self.clock()
        lapsed = False

        def change(order: dict[str, Any]) -> dict[str, Any]:
            nonlocal lapsed
            if (action in ("pay", "fail") and order["pay_status"] == states.PAY_PENDING
                    and now > seconds_since_1970(order["expired"])):
                lapsed = True
                return states.next_state(order, "expire")
            return states.next_state(order, action, reason=reason, settle_amount=settle_amount)

        order = self.store.update_order(order_id, change)
        if order is None:
            raise Rejected(404, "unknown order")
        self.send_callback(order, "expire" if lapsed else action)
        if lapsed:
            raise states.Conflict("order has expired")
        return order

    def resend(self, order_id: str) -> dict[str, Any]:
        """Deliver the order's latest callback again; the order's record."""
        self.order(order_id)
        if not self.outbox.resend(order_id):
            raise states.Conflict("order has no callback to resend")
        return self.record(order_id)

    def send_callback(self, order: dict[str, Any], action: str) -> None:
        """Sign the callback for `action` and hand it to the outbox, under the merchant's rules."""
        body, signature = make_callback(
            self.merchants.get(order["community_key"], ""),
            status=states.CALLBACK_STATUS[action], order_id=order["order_id"],
            amount=order["amount"], settle_amount=order["settle_amount"],
            reason=order["fail_reason"], expired=order["expired"])
        self.outbox.send(order["order_id"], order["user_notify_url"], body, signature,
                         self.faults.take("callback", order["community_key"]))
