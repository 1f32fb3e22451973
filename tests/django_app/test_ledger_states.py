"""The ledger's state machine (tests/ledger/ledger_states.py) through this app on PostgreSQL:
real sandbox, real callback view, real row locks, deliveries from two threads at once."""

from __future__ import annotations

import uuid
from collections.abc import Iterator
from datetime import timedelta
from decimal import Decimal
from typing import Any

import pytest
from django.db import connection
from django.test import Client
from django.urls import reverse
from hypothesis.stateful import run_state_machine_as_test
from vemrat_pay_django import signals
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.reconcile import due, refresh_each
from vemrat_pay_django.testing import PaymentSandbox

from ledger_states import LedgerStates, Seen, schedules
from spoiling_proxy import SpoilingProxy

pytestmark = [pytest.mark.django_db(transaction=True), pytest.mark.postgresql]


class DjangoHarness:
    def __init__(self, payments: PaymentSandbox, proxy: SpoilingProxy) -> None:
        self.sandbox = payments.sandbox
        self.proxy = proxy
        self.announced: list[tuple[str, str]] = []
        self.receivers = {name: self._receiver(name) for name in signals.BY_TRANSITION}

    def _receiver(self, transition: str) -> Any:
        def receive(sender: type[Payment], payment: Payment, **kwargs: Any) -> None:
            self.announced.append((str(payment.reference), transition))
        return receive

    def reset(self) -> None:
        with connection.cursor() as cursor:
            cursor.execute(f"TRUNCATE {CallbackEvent._meta.db_table}, {Payment._meta.db_table}")
        self.announced.clear()

    def start(self, amount: Decimal, reference: uuid.UUID) -> None:
        start_payment(amount, currency="CNY", recipient_account="2088000000000001",
                      reference=reference)

    def deliver(self, reference: str, body: str | bytes, signature: str) -> int:
        try:
            return Client().post(reverse("vemrat_pay:callback", args=[reference]), body,
                                 content_type="application/json",
                                 headers={"X-Vemrat-Signature": signature}).status_code
        finally:
            connection.close()  # each delivery thread has a connection of its own

    def reconcile(self) -> None:
        for _ in refresh_each(due(timedelta(0), 500, unsettled=True)):
            pass

    def payments(self) -> list[Seen]:
        return [Seen(str(payment.reference), payment.status, payment.order_id,
                     payment.held_order_id, payment.callback_url, payment.settled,
                     payment.refunded)
                for payment in Payment.objects.order_by("id")]

    def announcements(self) -> list[tuple[str, str]]:
        return list(self.announced)

    def recorded_callbacks(self) -> int:
        return CallbackEvent.objects.count()


@pytest.fixture
def harness(payments: PaymentSandbox, proxy: SpoilingProxy) -> Iterator[DjangoHarness]:
    made = DjangoHarness(payments, proxy)
    for name, receive in made.receivers.items():
        signals.BY_TRANSITION[name].connect(receive, weak=False)
    yield made
    for name, receive in made.receivers.items():
        signals.BY_TRANSITION[name].disconnect(receive)


def test_the_money_state_holds_in_every_schedule(harness: DjangoHarness) -> None:
    class DjangoLedgerStates(LedgerStates):
        pass

    DjangoLedgerStates.harness = harness
    run_state_machine_as_test(DjangoLedgerStates, settings=schedules())
