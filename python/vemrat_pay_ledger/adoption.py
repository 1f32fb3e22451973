"""When a payment may take an order id it never received.

A payment whose create call was not answered knows no order id; a verified callback, sent to
its callback URL, names one. But the signature covers the body, not the URL: a genuine
callback of another payment's order, replayed to this URL, verifies just as well, and the
service's order-status answer names no payment. The order is taken only on unambiguous
evidence: the service's amount for it is the payment's, no other payment holds it, and no
other payment could be its owner (another one without an order id whose status the service
never reported, for the same amount).
Otherwise the payment is held for a person to decide, and nothing is announced for it.
"""

from __future__ import annotations

import enum
from dataclasses import dataclass
from decimal import Decimal

from .amounts import decimal_or_none


class Verdict(enum.StrEnum):
    ADOPT = "adopt"
    HOLD = "hold"  # it may be the payment's order, or another's: a person decides
    REFUSE = "refuse"  # it cannot be the payment's order


@dataclass(frozen=True)
class Adoption:
    verdict: Verdict
    reason: str


@dataclass(frozen=True)
class Evidence:
    """What is known about the order a payment without an order id is offered."""

    order_id: str
    service_amount: str  # the service's amount text for the order
    payment_amount: Decimal
    holder: str | None  # the reference of another payment that holds the order, if one does
    rivals: tuple[str, ...]  # references of other payments without an order id, same amount


def decide_adoption(evidence: Evidence) -> Adoption:
    if not evidence.order_id:
        return Adoption(Verdict.REFUSE, "the service reported no order id")
    if decimal_or_none(evidence.service_amount) != evidence.payment_amount:
        return Adoption(Verdict.REFUSE, f"order {evidence.order_id} is for "
                                        f"{evidence.service_amount!r}, not {evidence.payment_amount}")
    if evidence.holder is not None:
        return Adoption(Verdict.REFUSE, f"order {evidence.order_id} belongs to payment "
                                        f"{evidence.holder}")
    if evidence.rivals:
        shown = ", ".join(evidence.rivals[:5]) + (", ..." if len(evidence.rivals) > 5 else "")
        return Adoption(Verdict.HOLD, f"order {evidence.order_id} may be this payment's or that "
                                      f"of {len(evidence.rivals)} other payment(s) without an "
                                      f"order id for the same amount ({shown})")
    return Adoption(Verdict.ADOPT, f"order id {evidence.order_id} learned")
