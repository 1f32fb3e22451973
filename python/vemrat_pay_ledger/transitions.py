"""Which changes a report of the service makes to a payment.

The service is the truth about its own order. Its order goes pending, then one of paid,
failed or expired, and settled and refunded only ever turn on; a report that ranks lower than
what the service already told (an older answer, a late callback) changes nothing, and each
change that happens is named once, as the transition it is.

A status the shop only inferred is never final against the service: `failed` from a create
call is not something the service reported, so a later report about the payment's own order
(paid, say) replaces it and is announced.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from decimal import Decimal
from typing import Protocol

from . import status_codes
from .amounts import decimal_or_none
from .statuses import RANK, Status, Transition


class OrderReport(Protocol):
    """What `vemrat_pay.OrderStatus` carries: the service's answer about one order."""

    @property
    def order_id(self) -> str: ...
    @property
    def pay_status(self) -> int: ...
    @property
    def pay_status_text(self) -> str: ...
    @property
    def settle_status(self) -> int: ...
    @property
    def settle_status_text(self) -> str: ...
    @property
    def refund_status(self) -> int: ...
    @property
    def refund_status_text(self) -> str: ...
    @property
    def amount(self) -> str: ...
    @property
    def settle_amount(self) -> str: ...
    @property
    def expired(self) -> str: ...
    @property
    def fail_reason(self) -> str: ...


@dataclass(frozen=True)
class Reported:
    """The service's view of an order, read through the status-code map (None: unknown)."""

    status: Status | None
    settled: bool | None = None
    refunded: bool | None = None
    fail_reason: str = ""
    settle_amount: Decimal | None = None
    unknown_codes: tuple[str, ...] = ()  # "pay_status 7", for a warning


@dataclass(frozen=True)
class Standing:
    """What `plan` reads of a payment."""

    status: Status
    status_confirmed: bool  # whether the service itself reported this status
    settled: bool
    refunded: bool


@dataclass(frozen=True)
class Plan:
    changes: dict[str, object] = field(default_factory=dict)
    transitions: tuple[Transition, ...] = ()

    def describe(self, before: Status) -> list[str]:
        described = []
        if "status" in self.changes:
            described.append(f"{before} -> {self.changes['status']}")
        described.extend(name for name in ("settled", "refunded") if name in self.changes)
        return described


def read_report(report: OrderReport, overrides: status_codes.Overrides) -> Reported:
    pay = status_codes.meaning("pay_status", report.pay_status, overrides)
    settle = status_codes.meaning("settle_status", report.settle_status, overrides)
    refund = status_codes.meaning("refund_status", report.refund_status, overrides)
    unknown = tuple(f"{name} {code}" for name, code, found in (
        ("pay_status", report.pay_status, pay), ("settle_status", report.settle_status, settle),
        ("refund_status", report.refund_status, refund)) if found is None)
    return Reported(
        status=Status(pay) if pay is not None else None,
        settled=None if settle is None else settle == "settled",
        refunded=None if refund is None else refund == "refunded",
        fail_reason=report.fail_reason,
        settle_amount=decimal_or_none(report.settle_amount),
        unknown_codes=unknown,
    )


def plan(standing: Standing, reported: Reported) -> Plan:
    """The fields `reported`, about the payment's own order, changes, and the transitions."""
    changes: dict[str, object] = {}
    transitions: list[Transition] = []
    current = standing.status
    new = reported.status
    if new is not None and (not standing.status_confirmed or RANK[new] > RANK[current]):
        changes["status"] = new
        changes["status_confirmed"] = True
        if new in (Status.FAILED, Status.EXPIRED):
            changes["fail_reason"] = reported.fail_reason
        elif current == Status.FAILED:
            changes["fail_reason"] = ""
        if new != Status.PENDING and new != current:
            transitions.append(Transition(new))
    if reported.settled and not standing.settled:
        changes["settled"] = True
        changes["settle_amount"] = reported.settle_amount
        transitions.append(Transition.SETTLED)
    if reported.refunded and not standing.refunded:
        changes["refunded"] = True
        transitions.append(Transition.REFUNDED)
    return Plan(changes, tuple(transitions))
