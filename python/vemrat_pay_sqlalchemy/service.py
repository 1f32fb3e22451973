"""The payments of a shop on SQLAlchemy: the ledger's operations, stored and announced.

    payments = Payments(PaymentsConfig.from_env(), engine)
    payment = payments.start_payment(Decimal("19.99"), currency="CNY",
                                      recipient_account="2088000000000001",
                                      return_url="/orders/42", base_url="https://shop.example")
    if payment.status == "pending":
        redirect(payment.pay_url)

Every decision about the money is the ledger's (`vemrat_pay_ledger`), the same the Django app
makes; this class stores its decisions (`store.SqlAlchemyStore`), builds the callback URLs
and announces the transitions after each commit. Its calls block (the service's answer,
the database): async code uses `vemrat_pay_fastapi.AsyncPayments`, which runs them in
worker threads.
"""

from __future__ import annotations

import functools
import hashlib
import logging
import urllib.parse
import uuid
from collections import Counter
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass, field
from datetime import timedelta
from decimal import Decimal
import vemrat_pay
from sqlalchemy import Engine, select
from sqlalchemy.exc import SQLAlchemyError
from sqlalchemy.orm import sessionmaker
from vemrat_pay_ledger.callbacks import ANSWERS, Outcome
from vemrat_pay_ledger.ledger import Ledger, Refreshed
from vemrat_pay_ledger.storage import Decision, NewPayment

from .config import PaymentsConfig
from .events import Announcement, PaymentEvents
from .models import Payment
from .store import SqlAlchemyStore

logger = logging.getLogger("vemrat_pay")

DEFAULT_CALLBACK_PREFIX = "/vemrat-pay"
# Where announcements go when a caller collects them to announce itself.
Collected = list[Announcement]


class MissingBaseURL(ValueError):
    """A URL had to be made absolute with neither `callback_base_url` nor a request's origin."""


@dataclass(frozen=True)
class CallbackAnswer:
    """What the callback endpoint answers: the same status and text as the Django app's view."""

    status: int
    text: str
    outcome: str
    detail: str = ""


@dataclass
class Summary:
    """The counts of a reconcile, by outcome."""

    counts: Counter[str] = field(default_factory=Counter)

    def add(self, refreshed: Refreshed) -> None:
        self.counts[refreshed.outcome] += 1

    @property
    def failed(self) -> int:
        return self.counts["failed"]

    def __str__(self) -> str:
        total = sum(self.counts.values())
        parts = ", ".join(f"{self.counts[outcome]} {outcome}" for outcome in
                          ("changed", "unchanged", "held", "no order id", "failed"))
        return f"{total} payments refreshed: {parts}"


class Payments:
    """The payments service of one application: configuration, database, events."""

    def __init__(self, config: PaymentsConfig, engine: Engine, *,
                 events: PaymentEvents | None = None,
                 callback_prefix: str = DEFAULT_CALLBACK_PREFIX) -> None:
        self.config = config
        self.engine = engine
        self.sessions = sessionmaker(engine, expire_on_commit=False)
        self.events = events if events is not None else PaymentEvents()
        self.callback_prefix = "/" + callback_prefix.strip("/") if callback_prefix.strip("/") else ""

    def __repr__(self) -> str:
        return f"<Payments on {self.engine.url!r}>"

    @functools.cached_property
    def client(self) -> vemrat_pay.Client:
        """The application's one Client: immutable, shared by every thread."""
        return self.config.client()

    def ledger(self, collected: Collected) -> Ledger:
        """The ledger on this database; the announcements of what it commits go to `collected`."""
        def sink(payment: Payment, decision: Decision) -> None:
            collected.extend(Announcement(transition.value, payment)
                             for transition in decision.transitions)
            if decision.held:
                collected.append(Announcement("held", payment))

        return Ledger(SqlAlchemyStore(self.sessions, sink), lambda: self.client,
                      status_codes=self.config.status_codes,
                      decimal_places=self.config.currency_decimal_places)

    @contextmanager
    def announcing(self, collected: Collected | None) -> Iterator[Collected]:
        """The list an operation collects into; announced on the way out unless the caller
        passed its own (which it then announces: the async service does, on its loop)."""
        if collected is not None:
            yield collected
            return
        own: Collected = []
        try:
            yield own
        finally:  # also when the operation fails after a commit: what committed is told
            for announcement in own:
                self.events.announce(announcement)

    # -- URLs -----------------------------------------------------------------------------------

    def callback_url(self, reference: uuid.UUID, base_url: str | None) -> str:
        return self.absolute_url(f"{self.callback_prefix}/callback/{reference}", base_url)

    def absolute_url(self, url: str, base_url: str | None) -> str:
        """`url` made absolute: on `callback_base_url` when that is set, else on `base_url`."""
        if urllib.parse.urlsplit(url).scheme:
            return url
        base = self.config.callback_base_url or base_url
        if not base:
            raise MissingBaseURL(
                "a callback or return URL cannot be made absolute: set callback_base_url "
                "(VEMRAT_PAY_CALLBACK_BASE_URL, the shop's public origin) or start the payment "
                "inside a request")
        return base.rstrip("/") + "/" + url.lstrip("/")

    # -- operations -----------------------------------------------------------------------------

    def start_payment(self, amount: Decimal, *, currency: str, recipient_account: str,
                      pay_mode: str = "split", return_url: str | None = None,
                      reference: uuid.UUID | None = None, base_url: str | None = None,
                      collected: Collected | None = None) -> Payment:
        """Save a payment, then ask the service to create its order; the payment as it ends.

        `pending` (with `order_id` and `pay_url`) when the service created the order;
        `failed` when it refused; `unconfirmed` when the answer may hide a stored order
        (never created twice: its callback or a reconcile completes it). `reference` is an
        idempotency key: the same reference returns the payment started under it, and with
        other parameters raises `vemrat_pay_ledger.ledger.ReferenceConflict`. Argument errors
        (TypeError, ValueError) are raised before anything is saved.
        """
        with self.announcing(collected) as sink:
            ledger = self.ledger(sink)
            value = ledger.check_arguments(amount, currency, recipient_account, pay_mode)
            reference = reference or uuid.uuid4()
            new = NewPayment(reference=reference, amount=value, currency=currency,
                             pay_mode=pay_mode, recipient_account=recipient_account,
                             callback_url=self.callback_url(reference, base_url),
                             return_url=self.absolute_url(return_url, base_url) if return_url else "")
            ledger.start(new)
            return self._load(reference)

    def refresh_payment(self, payment: Payment | uuid.UUID,
                        collected: Collected | None = None) -> Payment:
        """Ask the service for the state of the payment's order and store it; the payment,
        reloaded. The service's errors reach the caller (RuntimeError, OSError, ...), and
        `vemrat_pay_ledger.ledger.OrderMismatch` for an order that is not the payment's."""
        reference = payment.reference if isinstance(payment, Payment) else payment
        with self.announcing(collected) as sink:
            self.ledger(sink).refresh(reference)
            return self._load(reference)

    def handle_callback(self, reference: str, body: bytes, signature: str,
                        collected: Collected | None = None) -> CallbackAnswer:
        """Verify, record and act on one callback request; what the endpoint answers."""
        try:
            parsed = uuid.UUID(reference)
        except ValueError:
            return CallbackAnswer(404, "unknown payment", "not-a-reference")
        with self.announcing(collected) as sink:
            try:
                handled = self.ledger(sink).handle_callback(parsed, body, signature)
            except SQLAlchemyError as error:  # the shop's database: the service tries again
                logger.exception("callback for %s (%d bytes, sha256 %s) could not be recorded",
                                 parsed, len(body), hashlib.sha256(body).hexdigest())
                status, text = ANSWERS[Outcome.UNVERIFIABLE]
                return CallbackAnswer(status, text, Outcome.UNVERIFIABLE.value,
                                      f"{type(error).__name__}: {error}")
        status, text = ANSWERS[handled.outcome]
        return CallbackAnswer(status, text, handled.outcome.value, handled.detail)

    def reconcile(self, *, older_than: timedelta = timedelta(seconds=300), limit: int = 500,
                  unsettled: bool = False, collected: Collected | None = None) -> list[Refreshed]:
        """Refresh the payments that are not final (and those held for review), bounded: the
        ones untouched for `older_than`, least recently refreshed first, at most `limit`;
        with `unsettled`, also the paid ones neither settled nor refunded. One result each."""
        with self.announcing(collected) as sink:
            ledger = self.ledger(sink)
            due = ledger.store.due(older_than, limit, unsettled=unsettled)
            return list(ledger.reconcile(payment.reference for payment in due))

    def assign_held_order(self, reference: uuid.UUID,
                          collected: Collected | None = None) -> Refreshed:
        """A person's decision that the order the payment is held for is its own (see the
        payment's `note`): it takes the order if the amounts agree and no other payment holds
        it, else `vemrat_pay_ledger.ledger.OrderMismatch`."""
        with self.announcing(collected) as sink:
            return self.ledger(sink).assign_held_order(reference)

    def held(self) -> list[Payment]:
        """The payments held for a person to decide which order is theirs, oldest first."""
        with self.sessions() as session:
            return list(session.scalars(select(Payment).where(Payment.held_order_id != "")
                                        .order_by(Payment.created_at)))

    def get(self, reference: uuid.UUID | str) -> Payment | None:
        """The payment with this reference, or None."""
        try:
            parsed = reference if isinstance(reference, uuid.UUID) else uuid.UUID(reference)
        except ValueError:
            return None
        with self.sessions() as session:
            return session.scalars(select(Payment).where(Payment.reference == parsed)).first()

    def _load(self, reference: uuid.UUID) -> Payment:
        payment = self.get(reference)
        if payment is None:
            raise LookupError(f"no payment has the reference {reference}")
        return payment
