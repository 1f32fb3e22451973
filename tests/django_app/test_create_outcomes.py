"""How a create call ends, through a proxy that spoils the service's answer after the service
stored the order: only the service's own refusal fails a payment; everything that may hide
a stored order leaves it unconfirmed, and the service's later report completes it."""

from __future__ import annotations

import uuid
from decimal import Decimal

import pytest
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements
from spoiling_proxy import CREATE_PATH, QUERY_PATH, SpoilingProxy

Status = Payment.Status

pytestmark = pytest.mark.django_db(transaction=True)


def start(reference: uuid.UUID | None = None) -> Payment:
    return start_payment(Decimal("30.00"), currency="CNY", recipient_account="2088000000000001",
                         reference=reference)


@pytest.mark.parametrize("spoiler", ["502", "504", "403", "garbled", "cut", "bad status",
                                     "long line"])
def test_an_answer_that_may_hide_a_stored_order_leaves_the_payment_unconfirmed(
        payments: PaymentSandbox, proxy: SpoilingProxy, announced: Announcements,
        spoiler: str) -> None:
    proxy.spoil(CREATE_PATH, spoiler)
    payment = start()
    assert (payment.status, payment.order_id) == (Status.UNCONFIRMED, None)
    assert payment.note  # why, for people
    assert announced.of(payment) == []
    assert len(payments.sandbox.orders()) == 1  # the service did store it

    # The payer pays the order; its callback makes the payment paid, announced once.
    payments.pay(payment)
    assert payments.deliver_callback(payment).status_code == 200
    assert payments.deliver_callback(payment).status_code == 200  # a repeat changes nothing
    payment.refresh_from_db()
    assert (payment.status, payment.order_id) == (Status.PAID, payments.order_id(payment))
    assert announced.of(payment) == ["paid"]


def test_the_services_refusal_fails_the_payment_but_its_later_report_wins(
        payments: PaymentSandbox, proxy: SpoilingProxy, announced: Announcements) -> None:
    # A refusal envelope (here put in by the proxy after the order was stored) is the one
    # answer that fails a payment at create time; the failure is inferred, not reported.
    proxy.spoil(CREATE_PATH, "refusal")
    payment = start()
    assert (payment.status, payment.fail_reason) == (Status.FAILED, 'HTTP 400: {"detail":"request refused"}')
    assert not payment.status_confirmed
    assert announced.of(payment) == ["failed"]

    payments.pay(payment)
    assert payments.deliver_callback(payment).status_code == 200
    payment.refresh_from_db()
    assert (payment.status, payment.fail_reason, payment.status_confirmed) == (Status.PAID, "", True)
    assert announced.of(payment) == ["failed", "paid"]


def test_a_reported_final_status_stays(payments: PaymentSandbox, announced: Announcements) -> None:
    payment = start()
    payments.fail(payment, "card declined")
    payments.deliver_callback(payment)
    payment.refresh_from_db()
    assert (payment.status, payment.status_confirmed) == (Status.FAILED, True)
    refresh_payment(payment)
    assert announced.of(payment) == ["failed"]


@pytest.mark.parametrize("spoiler", ["502", "garbled", "cut", "bad status", "long line"])
def test_a_spoiled_status_answer_to_a_callback_is_answered_503(
        payments: PaymentSandbox, proxy: SpoilingProxy, announced: Announcements,
        spoiler: str) -> None:
    payment = start()
    payments.pay(payment)
    proxy.spoil(QUERY_PATH, spoiler)
    response = payments.deliver_callback(payment)
    assert response.status_code == 503  # the service delivers it again
    event = CallbackEvent.objects.get()
    assert (event.outcome, event.verified) == (CallbackEvent.Outcome.UNAVAILABLE, True)
    assert event.processed_at is not None
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING

    assert payments.deliver_callback(payment).status_code == 200
    assert Payment.objects.get(pk=payment.pk).status == Status.PAID
    assert announced.of(payment) == ["paid"]
