"""Order states, their codes and texts, and the transitions between them.

Codes as the order-status query reports them:

    pay_status     0 pending   1 paid      2 failed   3 expired
    settle_status  0 unsettled 1 settled
    refund_status  0 none      1 refunded

Transitions (anything else is a conflict):

    pay     pending -> paid
    fail    pending -> failed (with a reason)
    expire  pending -> expired
    settle  paid, unsettled, not refunded -> settled (settle_amount, at most the amount)
    refund  paid, not refunded -> refunded (settled or not)
"""

from __future__ import annotations

from typing import Any

PAY_PENDING, PAY_PAID, PAY_FAILED, PAY_EXPIRED = 0, 1, 2, 3
SETTLE_NONE, SETTLE_DONE = 0, 1
REFUND_NONE, REFUND_DONE = 0, 1

PAY_STATUS_TEXT = {PAY_PENDING: "pending", PAY_PAID: "paid", PAY_FAILED: "failed",
                   PAY_EXPIRED: "expired"}
SETTLE_STATUS_TEXT = {SETTLE_NONE: "unsettled", SETTLE_DONE: "settled"}
REFUND_STATUS_TEXT = {REFUND_NONE: "none", REFUND_DONE: "refunded"}

# The "status" text a callback carries after each action.
CALLBACK_STATUS = {"pay": "paid", "fail": "failed", "expire": "expired",
                   "settle": "settled", "refund": "refunded"}

ACTIONS = tuple(CALLBACK_STATUS)

DEFAULT_FAIL_REASON = "payment declined by the payer"


class Conflict(Exception):
    """An action that the order's current state does not allow."""

    def __init__(self, detail: str) -> None:
        super().__init__(detail)
        self.detail = detail


def next_state(order: dict[str, Any], action: str, *, reason: str = "",
               settle_amount: str | None = None) -> dict[str, Any]:
    """Return the columns that `action` changes on `order`, or raise Conflict.

    `settle_amount` must already be a checked amount text with two decimals.
    """
    pay = order["pay_status"]
    pay_text = PAY_STATUS_TEXT[pay]
    if action in ("pay", "fail", "expire"):
        if pay != PAY_PENDING:
            raise Conflict(f"cannot {action} an order that is {pay_text}")
        if action == "pay":
            return {"pay_status": PAY_PAID}
        if action == "fail":
            return {"pay_status": PAY_FAILED, "fail_reason": reason or DEFAULT_FAIL_REASON}
        return {"pay_status": PAY_EXPIRED, "fail_reason": "order expired"}
    if action == "settle":
        if pay != PAY_PAID:
            raise Conflict(f"cannot settle an order that is {pay_text}")
        if order["refund_status"] == REFUND_DONE:
            raise Conflict("cannot settle a refunded order")
        if order["settle_status"] == SETTLE_DONE:
            raise Conflict("order is already settled")
        amount = settle_amount if settle_amount is not None else order["amount"]
        if _cents(amount) > _cents(order["amount"]):
            raise Conflict("settle amount exceeds the order amount")
        return {"settle_status": SETTLE_DONE, "settle_amount": amount}
    if action == "refund":
        if pay != PAY_PAID:
            raise Conflict(f"cannot refund an order that is {pay_text}")
        if order["refund_status"] == REFUND_DONE:
            raise Conflict("order is already refunded")
        return {"refund_status": REFUND_DONE}
    raise ValueError(f"unknown action {action!r}")


def _cents(amount: str) -> int:
    units, _, fraction = amount.partition(".")
    return int(units) * 100 + int((fraction + "00")[:2])
