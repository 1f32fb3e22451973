"""The records the ledger reads and the interface through which it reaches storage.

A storage adapter (the Django app's ORM storage, a SQLAlchemy one) implements `PaymentStore`.
The ledger never writes a record itself: it hands `PaymentStore.update` a function that
decides, from the payment as it is under the lock, what changes; the store carries that out
in one transaction and announces the transitions after the commit.
"""

from __future__ import annotations

import uuid
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from datetime import datetime, timedelta
from decimal import Decimal
from typing import Protocol

from .callbacks import Outcome, StoredBody
from .statuses import Status, Transition
from .transitions import OrderReport


@dataclass(frozen=True)
class NewPayment:
    """What `start` saves before it asks the service for the order."""

    reference: uuid.UUID
    amount: Decimal
    currency: str
    pay_mode: str
    recipient_account: str
    callback_url: str
    return_url: str


@dataclass(frozen=True)
class PaymentRecord(NewPayment):
    """A payment as the store holds it (the service's raw fields are the store's own)."""

    order_id: str | None
    pay_url: str
    status: Status
    status_confirmed: bool  # whether the service itself reported `status`
    settled: bool
    settle_amount: Decimal | None
    refunded: bool
    fail_reason: str
    held_order_id: str  # an order offered to the payment and held for a person ("" if none)
    note: str  # why the payment is unconfirmed or held
    created_at: datetime | None = None
    refreshed_at: datetime | None = None

    @property
    def needs_review(self) -> bool:
        return bool(self.held_order_id)


# The fields a Decision may change: those of PaymentRecord that are the ledger's own.
CHANGEABLE = frozenset({"order_id", "pay_url", "status", "status_confirmed", "settled",
                        "settle_amount", "refunded", "fail_reason", "held_order_id", "note"})


@dataclass(frozen=True)
class Decision:
    """What to do to one payment, decided under its lock."""

    changes: Mapping[str, object] = field(default_factory=dict)  # names from CHANGEABLE
    report: OrderReport | None = None  # the service's answer: its raw fields are stored
    transitions: tuple[Transition, ...] = ()  # announced once each, after the commit
    held: bool = False  # newly held for review: announced after the commit
    outcome: Outcome = Outcome.UNCHANGED  # for a callback: CHANGED, UNCHANGED, HELD, MISMATCH
    description: str = ""  # every change, for people ("" when nothing changed)


@dataclass(frozen=True)
class CallbackRecord:
    """One request to the callback endpoint, recorded before it is acted upon."""

    reference: uuid.UUID
    body: StoredBody
    signature: str
    verified: bool
    order_id: str = ""  # from a verified body
    callback_status: str = ""  # from a verified body
    outcome: Outcome = Outcome.RECEIVED
    detail: str = ""


class DuplicateReference(Exception):
    """`insert` found a payment with that reference already stored."""


class Candidates(Protocol):
    """What a decision about an order id may ask of the store, inside its transaction."""

    def holder_of(self, order_id: str, *, other_than: uuid.UUID) -> uuid.UUID | None:
        """The reference of another payment that holds `order_id`, if one does."""

    def rivals(self, payment: PaymentRecord) -> list[uuid.UUID]:
        """The other payments that could own an order of `payment`'s amount: without an order
        id, a status the service never reported (creating, unconfirmed, or failed by a
        refused create), the same amount (any currency: the service's order-status answer
        names none)."""


class PaymentStore(Candidates, Protocol):
    def find(self, reference: uuid.UUID) -> PaymentRecord | None: ...

    def insert(self, new: NewPayment) -> PaymentRecord:
        """Save a payment in status creating; DuplicateReference if the reference is taken."""

    def update(self, reference: uuid.UUID,
               decide: Callable[[PaymentRecord, Candidates], Decision]) -> tuple[PaymentRecord, Decision]:
        """In one transaction: load and lock the payment, call `decide` with it, store the
        decision's changes (and, with a report, the service's raw fields and the time it was
        asked), then commit. After the commit, announce each of `transitions` and, if `held`,
        that the payment is held for review. The payment as stored, and the decision.
        Raises LookupError if no payment has the reference; whatever `decide` raises rolls
        the transaction back."""

    def latest_verified_order_id(self, reference: uuid.UUID) -> str:
        """The order id of the payment's latest verified callback, or ""."""

    def record_callback(self, callback: CallbackRecord) -> object:
        """Record a callback request (linked to the payment with its reference, if any) in a
        transaction of its own; a key by which `finish_callback` finds it."""

    def finish_callback(self, key: object, outcome: Outcome, detail: str) -> None:
        """Store what became of a recorded callback, and when."""

    def due(self, older_than: timedelta, limit: int, *, unsettled: bool) -> list[PaymentRecord]:
        """The payments to refresh: open (creating, unconfirmed, pending) or held for review,
        untouched for `older_than`, least recently refreshed first, at most `limit`. With
        `unsettled`, also the paid ones neither settled nor refunded."""
