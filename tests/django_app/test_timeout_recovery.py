"""An order the service created whose answer never reached the shop, recovered by its callback
or by vemrat_pay_reconcile: the sandbox's timeout_after_commit fault makes exactly that case."""

from __future__ import annotations

import io
import socket
from collections.abc import Iterator
from decimal import Decimal

import pytest
from django.core.management import call_command
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements

Status = Payment.Status

pytestmark = pytest.mark.django_db(transaction=True)


@pytest.fixture
def short_timeout() -> Iterator[None]:
    previous = socket.getdefaulttimeout()
    socket.setdefaulttimeout(0.5)
    yield
    socket.setdefaulttimeout(previous)


def start_with_the_answer_lost(payments: PaymentSandbox, hold_seconds: float) -> Payment:
    """Starts a payment whose order the sandbox creates and whose answer it withholds."""
    payments.sandbox.add_fault("timeout_after_commit", "payment", seconds=hold_seconds)
    payment = start_payment(Decimal("64.00"), currency="CNY", recipient_account="2088000000000001")
    assert (payment.status, payment.order_id, payment.pay_url) == (Status.UNCONFIRMED, None, "")
    assert len(payments.sandbox.orders()) == 1  # the service did create it
    return payment


# Held past the client's timeout (TimeoutError), or the connection closed without an answer.
@pytest.mark.parametrize("hold_seconds", [5, 0], ids=["timed out", "connection dropped"])
def test_its_callback_completes_the_payment(live_payments: PaymentSandbox, short_timeout: None,
                                            announced: Announcements, hold_seconds: float) -> None:
    payment = start_with_the_answer_lost(live_payments, hold_seconds)
    order_id = live_payments.order_id(payment)

    delivered = live_payments.pay(payment)["callbacks"][-1]
    assert (delivered["url"], delivered["status"]) == (payment.callback_url, 200)
    payment.refresh_from_db()
    assert (payment.order_id, payment.status) == (order_id, Status.PAID)
    assert announced.of(payment) == ["paid"]
    event = payment.callback_events.get()
    assert event.detail == f"order id {order_id} learned, unconfirmed -> paid"
    assert len(live_payments.sandbox.orders()) == 1  # never created a second time


def test_reconcile_completes_it_when_its_callback_could_not_be_acted_on(
        live_payments: PaymentSandbox, short_timeout: None, announced: Announcements) -> None:
    payment = start_with_the_answer_lost(live_payments, 5)
    # The callback arrives while the service's status query fails: it is answered 503, and
    # recorded with the order id it reported.
    live_payments.sandbox.add_fault("error", "order_status", status=503, detail="maintenance")
    delivered = live_payments.pay(payment)["callbacks"][-1]
    assert delivered["status"] == 503
    event = CallbackEvent.objects.get()
    assert (event.outcome, event.order_id) == (CallbackEvent.Outcome.UNAVAILABLE,
                                               live_payments.order_id(payment))
    assert Payment.objects.get(pk=payment.pk).status == Status.UNCONFIRMED

    out = io.StringIO()
    call_command("vemrat_pay_reconcile", "--older-than", "0", stdout=out)
    assert out.getvalue().splitlines() == [
        f"[1/1] {payment.reference} changed: order id {event.order_id} learned, unconfirmed -> paid",
        "1 payments refreshed: 1 changed, 0 unchanged, 0 held, 0 no order id, 0 failed"]
    payment.refresh_from_db()
    assert (payment.order_id, payment.status) == (event.order_id, Status.PAID)
    assert announced.of(payment) == ["paid"]
