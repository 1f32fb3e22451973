"""Which changes a report of the service makes to a payment: forward only, never twice.

A payment's status moves up a ladder and never down: creating or unconfirmed, then pending,
then one of the final statuses paid, failed or expired. Settled and refunded only ever turn
on. A report that would move anything back (a late or out-of-order callback, an older answer)
changes nothing, and each change that happens is named once, as the transition it is.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from decimal import Decimal

from .models import Payment

Status = Payment.Status

RANK = {Status.CREATING: 0, Status.UNCONFIRMED: 0, Status.PENDING: 1,
        Status.PAID: 2, Status.FAILED: 2, Status.EXPIRED: 2}

# The transitions that are announced (each has a signal), in the order they are announced.
ANNOUNCED = ("paid", "failed", "expired", "settled", "refunded")


@dataclass(frozen=True)
class Reported:
    """The service's view of an order, read through the status-code map (None: unknown)."""

    status: Status | None
    settled: bool | None = None
    refunded: bool | None = None
    fail_reason: str = ""
    settle_amount: Decimal | None = None


@dataclass(frozen=True)
class Plan:
    changes: dict[str, object] = field(default_factory=dict)
    transitions: tuple[str, ...] = ()


def plan(payment: Payment, reported: Reported) -> Plan:
    """The fields `reported` changes on `payment`, and the transitions that makes."""
    changes: dict[str, object] = {}
    transitions: list[str] = []
    current = Status(payment.status)
    if reported.status is not None and RANK[reported.status] > RANK[current]:
        changes["status"] = reported.status
        if reported.status in (Status.FAILED, Status.EXPIRED):
            changes["fail_reason"] = reported.fail_reason
        if reported.status != Status.PENDING:
            transitions.append(str(reported.status))
    if reported.settled and not payment.settled:
        changes["settled"] = True
        changes["settle_amount"] = reported.settle_amount
        transitions.append("settled")
    if reported.refunded and not payment.refunded:
        changes["refunded"] = True
        transitions.append("refunded")
    return Plan(changes, tuple(transitions))
