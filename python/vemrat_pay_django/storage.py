"""The ledger's storage in the Django ORM: `vemrat_pay_ledger.storage.PaymentStore` on the
`Payment` and `CallbackEvent` models.

Every change is one transaction that locks the payment's row (`select_for_update`), and its
signals are sent once the outermost transaction commits.
"""

from __future__ import annotations

import uuid
from collections.abc import Callable
from datetime import timedelta
from functools import partial
from typing import cast

from django.db import IntegrityError, transaction
from django.db.models import Q
from django.utils import timezone
from vemrat_pay_ledger.callbacks import Outcome
from vemrat_pay_ledger.statuses import OPEN, Status
from vemrat_pay_ledger.storage import (CHANGEABLE, CallbackRecord, Candidates, Decision,
                                       DuplicateReference, NewPayment, PaymentRecord)
from vemrat_pay_ledger.transitions import OrderReport

from .models import CallbackEvent, Payment
from .signals import announce_held, announce_on_commit


class OrmStore:
    """Payments and callback events in the default database."""

    def find(self, reference: uuid.UUID) -> PaymentRecord | None:
        payment = Payment.objects.filter(reference=reference).first()
        return None if payment is None else record_of(payment)

    def insert(self, new: NewPayment) -> PaymentRecord:
        try:
            with transaction.atomic():
                payment = Payment.objects.create(
                    reference=new.reference, amount=new.amount, currency=new.currency,
                    pay_mode=new.pay_mode, recipient_account=new.recipient_account,
                    callback_url=new.callback_url, return_url=new.return_url)
        except IntegrityError as taken:
            if Payment.objects.filter(reference=new.reference).exists():
                raise DuplicateReference(str(new.reference)) from taken
            raise
        return record_of(payment)

    def update(self, reference: uuid.UUID,
               decide: Callable[[PaymentRecord, Candidates], Decision]) -> tuple[PaymentRecord, Decision]:
        with transaction.atomic():
            try:
                locked = Payment.objects.select_for_update().get(reference=reference)
            except Payment.DoesNotExist:
                raise LookupError(f"no payment has the reference {reference}") from None
            decision = decide(record_of(locked), self)
            for name, value in decision.changes.items():
                if name not in CHANGEABLE:
                    raise ValueError(f"a decision may not change {name!r}")
                setattr(locked, name, value)
            if decision.report is not None:
                copy_service_fields(locked, decision.report)
                locked.refreshed_at = timezone.now()
            if decision.changes or decision.report is not None:
                locked.save()
            announce_on_commit(locked, decision.transitions)
            if decision.held:
                transaction.on_commit(partial(announce_held, locked))
        return record_of(locked), decision

    def holder_of(self, order_id: str, *, other_than: uuid.UUID) -> uuid.UUID | None:
        return (Payment.objects.filter(order_id=order_id).exclude(reference=other_than)
                .values_list("reference", flat=True).first())

    def rivals(self, payment: PaymentRecord) -> list[uuid.UUID]:
        return list(Payment.objects
                    .filter(order_id__isnull=True, amount=payment.amount, status_confirmed=False)
                    .exclude(reference=payment.reference)
                    .order_by("created_at").values_list("reference", flat=True))

    def latest_verified_order_id(self, reference: uuid.UUID) -> str:
        event = (CallbackEvent.objects.filter(reference=reference, verified=True)
                 .exclude(order_id="").order_by("-received_at", "-id").first())
        return event.order_id if event is not None else ""

    def record_callback(self, callback: CallbackRecord) -> object:
        event = CallbackEvent.objects.create(
            payment=Payment.objects.filter(reference=callback.reference).first(),
            reference=callback.reference, body=callback.body.text,
            body_length=callback.body.length, body_sha256=callback.body.sha256,
            signature=callback.signature, verified=callback.verified,
            order_id=callback.order_id, callback_status=callback.callback_status,
            outcome=callback.outcome, detail=callback.detail)
        return event.pk

    def finish_callback(self, key: object, outcome: Outcome, detail: str) -> None:
        CallbackEvent.objects.filter(pk=cast(int, key)).update(outcome=outcome, detail=detail,
                                                    processed_at=timezone.now())

    def due(self, older_than: timedelta, limit: int, *, unsettled: bool) -> list[PaymentRecord]:
        return [record_of(payment) for payment in due_payments(older_than, limit, unsettled=unsettled)]


def due_payments(older_than: timedelta, limit: int, *, unsettled: bool) -> list[Payment]:
    cutoff = timezone.now() - older_than
    open_ = (Q(status__in=OPEN) | ~Q(held_order_id="")
             | Q(status=Status.FAILED, status_confirmed=False, order_id__isnull=False))
    if unsettled:
        open_ |= Q(status=Status.PAID, settled=False, refunded=False)
    return list(Payment.objects.filter(open_, created_at__lt=cutoff)
                .filter(Q(refreshed_at__isnull=True) | Q(refreshed_at__lt=cutoff))
                .order_by("refreshed_at", "created_at")[:limit])


def record_of(payment: Payment) -> PaymentRecord:
    return PaymentRecord(
        reference=payment.reference, amount=payment.amount, currency=payment.currency,
        pay_mode=payment.pay_mode, recipient_account=payment.recipient_account,
        callback_url=payment.callback_url, return_url=payment.return_url,
        order_id=payment.order_id or None, pay_url=payment.pay_url, status=Status(payment.status),
        status_confirmed=payment.status_confirmed, settled=payment.settled,
        settle_amount=payment.settle_amount, refunded=payment.refunded,
        fail_reason=payment.fail_reason, held_order_id=payment.held_order_id, note=payment.note,
        created_at=payment.created_at, refreshed_at=payment.refreshed_at)


def copy_service_fields(payment: Payment, status: OrderReport) -> None:
    payment.service_pay_status = status.pay_status
    payment.service_pay_status_text = status.pay_status_text
    payment.service_settle_status = status.settle_status
    payment.service_settle_status_text = status.settle_status_text
    payment.service_refund_status = status.refund_status
    payment.service_refund_status_text = status.refund_status_text
    payment.service_amount = status.amount
    payment.service_settle_amount = status.settle_amount
    payment.service_expired = status.expired
    payment.service_fail_reason = status.fail_reason
