"""Payments whose create answer was lost, and the orders offered to them by callbacks: a
payment takes an order only on unambiguous evidence; otherwise it is held for a person."""

from __future__ import annotations

import io
from decimal import Decimal
from typing import Any

import pytest
from django.contrib.admin import helpers
from django.core.management import call_command
from django.test import Client
from django.urls import reverse
from vemrat_pay_django import signals
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox, post_callback

from conftest import Announcements

Status = Payment.Status
Outcome = CallbackEvent.Outcome

pytestmark = pytest.mark.django_db(transaction=True)


def start_unanswered(payments: PaymentSandbox, amount: str) -> Payment:
    """A payment whose order the service stored and whose answer was lost."""
    payments.sandbox.add_fault("timeout_after_commit", "payment", seconds=0)
    payment = start_payment(Decimal(amount), currency="CNY", recipient_account="2088000000000001")
    assert (payment.status, payment.order_id) == (Status.UNCONFIRMED, None)
    return payment


def latest_callback(payments: PaymentSandbox, payment: Payment) -> tuple[str, str]:
    callback = payments.order(payment)["callbacks"][-1]
    return callback["body"], callback["signature"]


@pytest.fixture
def held() -> Any:
    seen: list[str] = []

    def receive(sender: type[Payment], payment: Payment, **kwargs: Any) -> None:
        seen.append(str(payment.reference))
    signals.payment_held_for_review.connect(receive, weak=False)
    yield seen
    signals.payment_held_for_review.disconnect(receive)


def test_a_callback_replayed_to_another_payments_url_is_held_not_adopted(
        payments: PaymentSandbox, announced: Announcements, held: list[str],
        admin_client: Client) -> None:
    a = start_unanswered(payments, "45.00")
    b = start_unanswered(payments, "45.00")
    payments.pay(b)
    # B's genuine callback, posted to A's URL: the signature holds, the amount agrees.
    response = post_callback(a, *latest_callback(payments, b))
    assert response.status_code == 200
    a.refresh_from_db()
    assert (a.status, a.order_id) == (Status.UNCONFIRMED, None)
    assert a.needs_review and a.held_order_id == payments.order_id(b)
    assert str(b.reference) in a.note
    assert announced.received == [] and held == [str(a.reference)]
    assert CallbackEvent.objects.get().outcome == Outcome.HELD
    # The same again holds it still, and announces nothing more.
    post_callback(a, *latest_callback(payments, b))
    assert held == [str(a.reference)]

    # Visible: reconcile lists it as held, and the admin filters on it.
    out = io.StringIO()
    call_command("vemrat_pay_reconcile", "--older-than", "0", stdout=out)
    assert f"{a.reference} held: held for review: order {payments.order_id(b)}" in out.getvalue()
    listed = admin_client.get(reverse("admin:vemrat_pay_payment_changelist"), {"needs_review": "yes"})
    assert [shown.pk for shown in listed.context["cl"].result_list] == [a.pk]

    # B's own callback, at B's URL: A could still own that order, so B is held too.
    assert payments.deliver_callback(b).status_code == 200
    b.refresh_from_db()
    assert (b.status, b.order_id, b.held_order_id) == (Status.UNCONFIRMED, None, payments.order_id(b))

    # A person decides: B's order is B's. Then A is alone, and its own order finds it.
    admin_client.post(reverse("admin:vemrat_pay_payment_changelist"), {
        "action": "assign_held_order", helpers.ACTION_CHECKBOX_NAME: [b.pk]})
    b.refresh_from_db()
    assert (b.status, b.order_id, b.needs_review) == (Status.PAID, payments.order_id(b), False)
    payments.pay(a)
    assert payments.deliver_callback(a).status_code == 200
    a.refresh_from_db()
    assert (a.status, a.order_id, a.needs_review) == (Status.PAID, payments.order_id(a), False)
    assert announced.of(a) == ["paid"] and announced.of(b) == ["paid"]


def test_a_lone_payment_takes_its_order_from_its_callback(payments: PaymentSandbox,
                                                          announced: Announcements) -> None:
    other = start_payment(Decimal("45.00"), currency="CNY", recipient_account="2088000000000001")
    payment = start_unanswered(payments, "45.00")  # the other one has its order id
    payments.pay(payment)
    assert payments.deliver_callback(payment).status_code == 200
    payment.refresh_from_db()
    assert (payment.status, payment.order_id) == (Status.PAID, payments.order_id(payment))
    assert other.order_id != payment.order_id
    assert announced.of(payment) == ["paid"]


@pytest.mark.parametrize("offered", ["another amount", "held by another payment"])
def test_an_order_that_cannot_be_the_payments_is_refused(
        payments: PaymentSandbox, announced: Announcements, offered: str) -> None:
    payment = start_unanswered(payments, "45.00")
    other = start_payment(Decimal("46.00" if offered == "another amount" else "45.00"),
                          currency="CNY", recipient_account="2088000000000001")
    payments.pay(other)
    response = post_callback(payment, *latest_callback(payments, other))
    assert response.status_code == 400
    payment.refresh_from_db()
    assert (payment.status, payment.order_id, payment.needs_review) == (Status.UNCONFIRMED, None, False)
    assert CallbackEvent.objects.get(reference=payment.reference).outcome == Outcome.MISMATCH
    assert announced.of(payment) == []
