"""Refreshing many payments from the service, each on its own, for the command and the admin."""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from datetime import timedelta

from .ledger import get_ledger
from .models import Payment
from .storage import due_payments

OUTCOMES = ("changed", "unchanged", "held", "no order id", "failed")


@dataclass(frozen=True)
class Refreshed:
    payment: Payment
    outcome: str  # one of OUTCOMES; "held": held for review, a person decides
    detail: str = ""


@dataclass
class Summary:
    counts: Counter[str] = field(default_factory=Counter)

    def add(self, refreshed: Refreshed) -> None:
        self.counts[refreshed.outcome] += 1

    def __str__(self) -> str:
        total = sum(self.counts.values())
        parts = ", ".join(f"{self.counts[outcome]} {outcome}" for outcome in OUTCOMES)
        return f"{total} payments refreshed: {parts}"


def due(older_than: timedelta, limit: int, *, unsettled: bool = False) -> list[Payment]:
    """The payments to refresh: open or held for review, untouched for `older_than`, least
    recently refreshed first, at most `limit`. With `unsettled`, also the paid ones that are
    neither settled nor refunded."""
    return due_payments(older_than, limit, unsettled=unsettled)


def refresh_each(payments: Iterable[Payment]) -> Iterator[Refreshed]:
    """Refresh each payment; a failure is reported and the next one goes on."""
    ledger = get_ledger()
    for payment in payments:
        for refreshed in ledger.reconcile([payment.reference]):
            payment.refresh_from_db()
            yield Refreshed(payment, refreshed.outcome, refreshed.detail)
