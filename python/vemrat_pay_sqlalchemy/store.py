"""The ledger's storage on SQLAlchemy: `vemrat_pay_ledger.storage.PaymentStore` over sessions.

Every method works in a session and a transaction of its own. `update` locks the payment's
row for its transaction (SELECT ... FOR UPDATE; on SQLite, which has no row locks, a write
to the row first, which takes the database's write lock), so that two workers that meet
take turns and the second sees what the first committed. Transitions are not announced
here: each committed one is handed to `sink`, and the payments service announces them
(on the event loop, for the async service).
"""

from __future__ import annotations

import uuid
from collections.abc import Callable
from datetime import datetime, timedelta, timezone

from sqlalchemy import and_, or_, select, update
from sqlalchemy.orm import Session, sessionmaker
from vemrat_pay_ledger.callbacks import Outcome
from vemrat_pay_ledger.statuses import OPEN, Status
from vemrat_pay_ledger.storage import (CHANGEABLE, CallbackRecord, Candidates, Decision,
                                       DuplicateReference, NewPayment, PaymentRecord)
from vemrat_pay_ledger.transitions import OrderReport
from sqlalchemy.exc import IntegrityError

from .models import CallbackEvent, Payment, now

# What the store hands on after a commit: the payment as committed and what was decided.
Sink = Callable[[Payment, Decision], None]


def record_of(row: Payment) -> PaymentRecord:
    return PaymentRecord(
        reference=row.reference, amount=row.amount, currency=row.currency,
        pay_mode=row.pay_mode, recipient_account=row.recipient_account,
        callback_url=row.callback_url, return_url=row.return_url, order_id=row.order_id,
        pay_url=row.pay_url, status=Status(row.status), status_confirmed=row.status_confirmed,
        settled=row.settled, settle_amount=row.settle_amount, refunded=row.refunded,
        fail_reason=row.fail_reason, held_order_id=row.held_order_id, note=row.note,
        created_at=row.created_at, refreshed_at=row.refreshed_at)


def copy_report(row: Payment, report: OrderReport) -> None:
    row.service_pay_status = report.pay_status
    row.service_pay_status_text = report.pay_status_text
    row.service_settle_status = report.settle_status
    row.service_settle_status_text = report.settle_status_text
    row.service_refund_status = report.refund_status
    row.service_refund_status_text = report.refund_status_text
    row.service_amount = report.amount
    row.service_settle_amount = report.settle_amount
    row.service_expired = report.expired
    row.service_fail_reason = report.fail_reason
    row.refreshed_at = now()


class SessionCandidates:
    """The store's answers to a decision, inside the transaction of `update`."""

    def __init__(self, session: Session) -> None:
        self.session = session

    def holder_of(self, order_id: str, *, other_than: uuid.UUID) -> uuid.UUID | None:
        return self.session.scalars(
            select(Payment.reference).where(Payment.order_id == order_id,
                                            Payment.reference != other_than)).first()

    def rivals(self, payment: PaymentRecord) -> list[uuid.UUID]:
        return list(self.session.scalars(
            select(Payment.reference).where(
                Payment.order_id.is_(None), Payment.reference != payment.reference,
                Payment.status_confirmed.is_(False), Payment.amount == payment.amount)
            .order_by(Payment.id)))


class SqlAlchemyStore:
    """`PaymentStore` on a sessionmaker; committed decisions go to `sink`."""

    def __init__(self, sessions: sessionmaker[Session], sink: Sink | None = None) -> None:
        self.sessions = sessions
        self.sink = sink

    # -- reads ------------------------------------------------------------------------------

    def find(self, reference: uuid.UUID) -> PaymentRecord | None:
        with self.sessions() as session:
            row = session.scalars(select(Payment).where(Payment.reference == reference)).first()
            return record_of(row) if row is not None else None

    def holder_of(self, order_id: str, *, other_than: uuid.UUID) -> uuid.UUID | None:
        with self.sessions() as session:
            return SessionCandidates(session).holder_of(order_id, other_than=other_than)

    def rivals(self, payment: PaymentRecord) -> list[uuid.UUID]:
        with self.sessions() as session:
            return SessionCandidates(session).rivals(payment)

    def latest_verified_order_id(self, reference: uuid.UUID) -> str:
        with self.sessions() as session:
            found = session.scalars(
                select(CallbackEvent.order_id)
                .join(Payment, CallbackEvent.payment_id == Payment.id)
                .where(Payment.reference == reference, CallbackEvent.verified.is_(True),
                       CallbackEvent.order_id != "")
                .order_by(CallbackEvent.received_at.desc(), CallbackEvent.id.desc())).first()
            return found or ""

    def due(self, older_than: timedelta, limit: int, *, unsettled: bool) -> list[PaymentRecord]:
        cutoff = datetime.now(timezone.utc) - older_than
        wanted = or_(Payment.status.in_([status.value for status in OPEN]),
                     Payment.held_order_id != "")
        if unsettled:
            wanted = or_(wanted, and_(Payment.status == Status.PAID.value,
                                      Payment.settled.is_(False), Payment.refunded.is_(False)))
        with self.sessions() as session:
            rows = session.scalars(
                select(Payment).where(wanted, Payment.created_at < cutoff,
                                      or_(Payment.refreshed_at.is_(None),
                                          Payment.refreshed_at < cutoff))
                .order_by(Payment.refreshed_at.asc().nulls_first(), Payment.created_at)
                .limit(limit))
            return [record_of(row) for row in rows]

    # -- writes -----------------------------------------------------------------------------

    def insert(self, new: NewPayment) -> PaymentRecord:
        row = Payment(reference=new.reference, amount=new.amount, currency=new.currency,
                      pay_mode=new.pay_mode, recipient_account=new.recipient_account,
                      callback_url=new.callback_url, return_url=new.return_url,
                      status=Status.CREATING.value, status_confirmed=False, order_id=None,
                      pay_url="", settled=False, refunded=False, fail_reason="",
                      held_order_id="", note="")
        try:
            with self.sessions.begin() as session:
                session.add(row)
                session.flush()
                record = record_of(row)
        except IntegrityError as error:
            if self.find(new.reference) is not None:
                raise DuplicateReference(str(new.reference)) from error
            raise
        return record

    def update(self, reference: uuid.UUID,
               decide: Callable[[PaymentRecord, Candidates], Decision]
               ) -> tuple[PaymentRecord, Decision]:
        with self.sessions.begin() as session:
            row = self._lock(session, reference)
            decision = decide(record_of(row), SessionCandidates(session))
            for name, value in decision.changes.items():
                if name not in CHANGEABLE:
                    raise ValueError(f"a decision may not change {name!r}")
                setattr(row, name, value.value if isinstance(value, Status) else value)
            if decision.report is not None:
                copy_report(row, decision.report)
            row.updated_at = now()
            session.flush()
            record = record_of(row)
            session.expunge(row)
        # Committed: only now may anyone hear of it.
        if self.sink is not None and (decision.transitions or decision.held):
            self.sink(row, decision)
        return record, decision

    def _lock(self, session: Session, reference: uuid.UUID) -> Payment:
        if session.get_bind().dialect.name == "sqlite":
            # Takes SQLite's write lock for the rest of the transaction.
            session.execute(update(Payment).where(Payment.reference == reference)
                            .values(id=Payment.id))
            statement = select(Payment).where(Payment.reference == reference)
        else:
            statement = select(Payment).where(Payment.reference == reference).with_for_update()
        row = session.scalars(statement.execution_options(populate_existing=True)).first()
        if row is None:
            raise LookupError(f"no payment has the reference {reference}")
        return row

    def record_callback(self, callback: CallbackRecord) -> object:
        with self.sessions.begin() as session:
            payment_id = session.scalars(
                select(Payment.id).where(Payment.reference == callback.reference)).first()
            event = CallbackEvent(
                payment_id=payment_id, reference=callback.reference, body=callback.body.text,
                body_length=callback.body.length, body_sha256=callback.body.sha256,
                signature=callback.signature, verified=callback.verified,
                order_id=callback.order_id, callback_status=callback.callback_status,
                outcome=callback.outcome.value, detail=callback.detail, received_at=now(),
                processed_at=None if callback.outcome == Outcome.RECEIVED else now())
            session.add(event)
            session.flush()
            return event.id

    def finish_callback(self, key: object, outcome: Outcome, detail: str) -> None:
        with self.sessions.begin() as session:
            session.execute(update(CallbackEvent).where(CallbackEvent.id == key)
                            .values(outcome=outcome.value, detail=detail, processed_at=now()))
