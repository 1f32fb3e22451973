"""Which reports move a payment, and which transitions they announce: forward only."""

from __future__ import annotations

from decimal import Decimal

import pytest
from vemrat_pay_django.models import Payment
from vemrat_pay_django.transitions import Reported, plan

S = Payment.Status


def payment(status: S, settled: bool = False, refunded: bool = False) -> Payment:
    return Payment(status=status, settled=settled, refunded=refunded, amount=Decimal("10.00"))


# (status, settled, refunded), reported, expected changes, expected transitions
CASES = [
    ((S.PENDING, False, False), Reported(S.PAID), {"status": S.PAID}, ("paid",)),
    ((S.PENDING, False, False), Reported(S.FAILED, fail_reason="declined"),
     {"status": S.FAILED, "fail_reason": "declined"}, ("failed",)),
    ((S.PENDING, False, False), Reported(S.EXPIRED, fail_reason="order expired"),
     {"status": S.EXPIRED, "fail_reason": "order expired"}, ("expired",)),
    ((S.UNCONFIRMED, False, False), Reported(S.PENDING), {"status": S.PENDING}, ()),
    ((S.CREATING, False, False), Reported(S.PAID), {"status": S.PAID}, ("paid",)),
    ((S.PENDING, False, False), Reported(S.PENDING), {}, ()),
    ((S.PAID, False, False), Reported(S.PAID), {}, ()),
    # Never back, never sideways between final statuses.
    ((S.PAID, False, False), Reported(S.PENDING), {}, ()),
    ((S.PAID, False, False), Reported(S.FAILED), {}, ()),
    ((S.FAILED, False, False), Reported(S.PAID), {}, ()),
    ((S.EXPIRED, False, False), Reported(S.PAID), {}, ()),
    # Settled and refunded only ever turn on.
    ((S.PAID, False, False), Reported(S.PAID, settled=True, settle_amount=Decimal("9.50")),
     {"settled": True, "settle_amount": Decimal("9.50")}, ("settled",)),
    ((S.PAID, True, False), Reported(S.PAID, settled=False), {}, ()),
    ((S.PAID, True, False), Reported(S.PAID, settled=True, refunded=True),
     {"refunded": True}, ("refunded",)),
    ((S.PAID, True, True), Reported(S.PAID, settled=False, refunded=False), {}, ()),
    # A lost "paid" and "settled" learned at once: both announced, in order.
    ((S.PENDING, False, False), Reported(S.PAID, settled=True, refunded=True, settle_amount=None),
     {"status": S.PAID, "settled": True, "settle_amount": None, "refunded": True},
     ("paid", "settled", "refunded")),
    # Unknown codes (None) change nothing.
    ((S.PENDING, False, False), Reported(None, settled=None, refunded=None), {}, ()),
]


@pytest.mark.parametrize(("current", "reported", "changes", "transitions"), CASES)
def test_plan(current: tuple[S, bool, bool], reported: Reported, changes: dict[str, object],
              transitions: tuple[str, ...]) -> None:
    result = plan(payment(*current), reported)
    assert result.changes == changes
    assert result.transitions == transitions
