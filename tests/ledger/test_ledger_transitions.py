"""Which reports of the service change a payment, and which transitions they announce."""

from decimal import Decimal

import pytest
from vemrat_pay_ledger.statuses import Status as S
from vemrat_pay_ledger.transitions import Reported, Standing, plan

CONFIRMED, INFERRED = True, False

# (status, confirmed, settled, refunded), reported, expected changes, expected transitions
CASES = [
    ((S.PENDING, CONFIRMED, False, False), Reported(S.PAID), {"status": S.PAID}, ("paid",)),
    ((S.PENDING, CONFIRMED, False, False), Reported(S.FAILED, fail_reason="declined"),
     {"status": S.FAILED, "fail_reason": "declined"}, ("failed",)),
    ((S.PENDING, CONFIRMED, False, False), Reported(S.EXPIRED, fail_reason="order expired"),
     {"status": S.EXPIRED, "fail_reason": "order expired"}, ("expired",)),
    ((S.UNCONFIRMED, INFERRED, False, False), Reported(S.PENDING), {"status": S.PENDING}, ()),
    ((S.CREATING, INFERRED, False, False), Reported(S.PAID), {"status": S.PAID}, ("paid",)),
    ((S.PENDING, CONFIRMED, False, False), Reported(S.PENDING), {}, ()),
    ((S.PAID, CONFIRMED, False, False), Reported(S.PAID), {}, ()),
    # What the service reported never goes back or sideways: a lower report is an older one.
    ((S.PAID, CONFIRMED, False, False), Reported(S.PENDING), {}, ()),
    ((S.PAID, CONFIRMED, False, False), Reported(S.FAILED), {}, ()),
    ((S.FAILED, CONFIRMED, False, False), Reported(S.PAID), {}, ()),
    ((S.EXPIRED, CONFIRMED, False, False), Reported(S.PAID), {}, ()),
    # What the shop only inferred (a refused create) yields to the service's report.
    ((S.FAILED, INFERRED, False, False), Reported(S.PAID), {"status": S.PAID, "fail_reason": ""},
     ("paid",)),
    ((S.FAILED, INFERRED, False, False), Reported(S.PENDING),
     {"status": S.PENDING, "fail_reason": ""}, ()),
    ((S.FAILED, INFERRED, False, False), Reported(S.FAILED, fail_reason="declined"),
     {"status": S.FAILED, "fail_reason": "declined"}, ()),
    # Settled and refunded only ever turn on.
    ((S.PAID, CONFIRMED, False, False), Reported(S.PAID, settled=True, settle_amount=Decimal("9.50")),
     {"settled": True, "settle_amount": Decimal("9.50")}, ("settled",)),
    ((S.PAID, CONFIRMED, True, False), Reported(S.PAID, settled=False), {}, ()),
    ((S.PAID, CONFIRMED, True, False), Reported(S.PAID, settled=True, refunded=True),
     {"refunded": True}, ("refunded",)),
    ((S.PAID, CONFIRMED, True, True), Reported(S.PAID, settled=False, refunded=False), {}, ()),
    # A lost "paid" and "settled" learned at once: both announced, in order.
    ((S.PENDING, CONFIRMED, False, False), Reported(S.PAID, settled=True, refunded=True),
     {"status": S.PAID, "settled": True, "settle_amount": None, "refunded": True},
     ("paid", "settled", "refunded")),
    # Unknown codes (None) change nothing.
    ((S.PENDING, CONFIRMED, False, False), Reported(None, settled=None, refunded=None), {}, ()),
]


@pytest.mark.parametrize(("current", "reported", "changes", "transitions"), CASES)
def test_plan(current, reported, changes, transitions):
    result = plan(Standing(*current), reported)
    expected = dict(changes)
    if "status" in changes:
        expected["status_confirmed"] = True
    assert result.changes == expected
    assert result.transitions == transitions
