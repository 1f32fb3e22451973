"""start_payment against the sandbox: what is saved, what is sent, and each way it can end."""

from __future__ import annotations

import uuid
from decimal import Decimal
from typing import Any

import pytest
from django.core.exceptions import ImproperlyConfigured
from django.test import RequestFactory
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.updates import ReferenceConflict
from vemrat_pay_django.testing import PaymentSandbox, SilentService

from conftest import Announcements

Status = Payment.Status

pytestmark = pytest.mark.django_db(transaction=True)


def start(amount: object = "19.99", **options: object) -> Payment:
    fields: dict[str, object] = {"currency": "CNY", "recipient_account": "2088000000000001"}
    fields.update(options)
    value = Decimal(amount) if isinstance(amount, str) else amount
    return start_payment(value, **fields)  # type: ignore[arg-type]


def test_a_created_order_leaves_the_payment_pending(payments: PaymentSandbox,
                                                    announced: Announcements) -> None:
    payment = start("19.99", return_url="/orders/42/")
    assert payment.status == Status.PENDING
    assert payment.order_id
    assert payment.pay_url == f"{payments.sandbox.base_url}/pay/{payment.order_id}"
    stored = Payment.objects.get()
    assert (stored.order_id, stored.status, stored.amount) == (payment.order_id, Status.PENDING,
                                                               Decimal("19.99"))
    record = payments.order(payment)
    assert (record["amount"], record["currency"], record["recipient_account"],
            record["pay_mode"]) == ("19.99", "CNY", "2088000000000001", "split")
    base = payments.callback_base_url
    assert record["user_notify_url"] == payment.callback_url
    assert payment.callback_url == f"{base}/vemrat-pay/callback/{payment.reference}/"
    assert record["return_url"] == payment.return_url == f"{base}/orders/42/"
    assert announced.received == []  # pending is not a transition anyone listens for


@pytest.mark.parametrize(("amount", "currency", "sent"), [
    ("0.01", "CNY", "0.01"),
    ("10", "CNY", "10.00"),
    ("10.50", "CNY", "10.50"),
    ("123456.78", "USD", "123456.78"),
    ("999999999999.99", "CNY", "999999999999.99"),
    ("1500", "JPY", "1500.00"),
])
def test_amounts_reach_the_service_unchanged(payments: PaymentSandbox, amount: str, currency: str,
                                             sent: str) -> None:
    payment = start(amount, currency=currency)
    assert payments.order(payment)["amount"] == sent


def test_without_a_base_url_the_callback_url_follows_the_request(
        payments: PaymentSandbox, settings: Any) -> None:
    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "CALLBACK_BASE_URL": None}
    request = RequestFactory().get("/checkout/", secure=True, HTTP_HOST="shop.example")
    payment = start(request=request, return_url="/done/")
    assert payment.callback_url == f"https://shop.example/vemrat-pay/callback/{payment.reference}/"
    assert payment.return_url == "https://shop.example/done/"
    assert payments.order(payment)["user_notify_url"] == payment.callback_url

    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "CALLBACK_BASE_URL": None}
    with pytest.raises(ImproperlyConfigured, match="CALLBACK_BASE_URL"):
        start()
    assert Payment.objects.count() == 1


def test_a_refusal_fails_the_payment_with_the_service_message(payments: PaymentSandbox,
                                                              announced: Announcements) -> None:
    payment = start(recipient_account="")
    assert payment.status == Status.FAILED
    assert payment.fail_reason == (
        'HTTP 400: {"detail":"recipient_account is required for pay_mode split"}')
    assert payment.order_id is None
    assert announced.of(payment) == ["failed"]
    assert Payment.objects.get().status == Status.FAILED


@pytest.mark.parametrize(("amount", "options", "error"), [
    (19.99, {}, TypeError),
    ("1.001", {}, ValueError),
    ("100.5", {"currency": "JPY"}, ValueError),
    ("0", {}, ValueError),
    ("-5", {}, ValueError),
    ("NaN", {}, ValueError),
    ("1000000000000", {}, ValueError),
    ("10", {"pay_mode": "card"}, ValueError),
    ("10", {"currency": "cny"}, ValueError),
    ("10", {"currency": "YUAN"}, ValueError),
])
def test_refused_arguments_save_and_send_nothing(payments: PaymentSandbox, amount: object,
                                                 options: dict[str, object],
                                                 error: type[Exception]) -> None:
    with pytest.raises(error):
        start(amount, **options)
    assert not Payment.objects.exists()
    assert payments.sandbox.orders() == []


def test_a_timed_out_request_leaves_the_payment_unconfirmed(
        payments: PaymentSandbox, silent_service: SilentService, announced: Announcements) -> None:
    reference = uuid.uuid4()
    payment = start(reference=reference)
    assert (payment.status, payment.order_id, payment.pay_url) == (Status.UNCONFIRMED, None, "")
    assert len(silent_service.connections) == 1
    # Starting it again finds it; the service is not asked a second time.
    again = start(reference=reference)
    assert again.pk == payment.pk and again.status == Status.UNCONFIRMED
    assert len(silent_service.connections) == 1
    assert announced.received == []


def test_an_unreachable_service_leaves_the_payment_unconfirmed(payments: PaymentSandbox,
                                                               unreachable_service: None) -> None:
    assert start().status == Status.UNCONFIRMED


def test_the_same_reference_never_starts_a_second_order(payments: PaymentSandbox) -> None:
    reference = uuid.uuid4()
    first = start(reference=reference)
    second = start(reference=reference)
    assert first.pk == second.pk
    assert len(payments.sandbox.orders()) == 1


@pytest.mark.parametrize("other", [
    {"amount": "99.00"},
    {"currency": "USD"},
    {"amount": "99.00", "currency": "USD"},
    {"recipient_account": "2088000000000002"},
    {"pay_mode": "direct"},
    {"return_url": "/elsewhere/"},
], ids=lambda other: ",".join(other))
def test_the_same_reference_with_other_parameters_is_refused(payments: PaymentSandbox,
                                                             other: dict[str, str]) -> None:
    reference = uuid.uuid4()
    first = start("4.00", reference=reference, return_url="/orders/1/")
    fields: dict[str, object] = {"return_url": "/orders/1/", **other}
    with pytest.raises(ReferenceConflict, match=str(reference)) as refused:
        start(fields.pop("amount", "4.00"), reference=reference, **fields)
    assert isinstance(refused.value, ValueError)
    assert list(Payment.objects.values_list("pk", "amount", "currency")) == [
        (first.pk, Decimal("4.00"), "CNY")]
    assert len(payments.sandbox.orders()) == 1


def test_direct_payments_are_sent_as_direct(payments: PaymentSandbox) -> None:
    payment = start(pay_mode="direct", recipient_account="")
    assert payment.status == Status.PENDING
    assert payments.order(payment)["pay_mode"] == "direct"
