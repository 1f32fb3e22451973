"""Refreshing many payments from the service, each on its own, for the command and the admin."""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from datetime import timedelta

from django.db.models import Q, QuerySet
from django.utils import timezone

from .models import Payment
from .updates import OrderMismatch, refresh

Status = Payment.Status

NOT_FINAL = (Status.CREATING, Status.UNCONFIRMED, Status.PENDING)


@dataclass(frozen=True)
class Refreshed:
    payment: Payment
    outcome: str  # "changed", "unchanged", "no order id" or "failed"
    detail: str = ""


@dataclass
class Summary:
    counts: Counter[str] = field(default_factory=Counter)

    def add(self, refreshed: Refreshed) -> None:
        self.counts[refreshed.outcome] += 1

    def __str__(self) -> str:
        total = sum(self.counts.values())
        parts = ", ".join(f"{self.counts[outcome]} {outcome}"
                          for outcome in ("changed", "unchanged", "no order id", "failed"))
        return f"{total} payments refreshed: {parts}"


def due_payments(older_than: timedelta, limit: int, *, unsettled: bool = False) -> QuerySet[Payment]:
    """The payments to refresh: not final, untouched for `older_than`, least recently
    refreshed first, at most `limit`. With `unsettled`, also the paid ones that are neither
    settled nor refunded."""
    cutoff = timezone.now() - older_than
    open_ = Q(status__in=NOT_FINAL)
    if unsettled:
        open_ |= Q(status=Status.PAID, settled=False, refunded=False)
    return (Payment.objects.filter(open_, created_at__lt=cutoff)
            .filter(Q(refreshed_at__isnull=True) | Q(refreshed_at__lt=cutoff))
            .order_by("refreshed_at", "created_at")[:limit])


def refresh_each(payments: Iterable[Payment]) -> Iterator[Refreshed]:
    """Refresh each payment; a failure is reported and the next one goes on."""
    for payment in payments:
        try:
            applied = refresh(payment)
        except (RuntimeError, OSError, OrderMismatch) as error:
            yield Refreshed(payment, "failed", f"{type(error).__name__}: {error}")
            continue
        if applied is None:
            yield Refreshed(payment, "no order id", "only a callback can tell which order is its")
        elif applied.description:
            yield Refreshed(payment, "changed", applied.description)
        else:
            yield Refreshed(payment, "unchanged")
