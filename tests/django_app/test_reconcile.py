"""refresh_payment and vemrat_pay_reconcile: what lost callbacks never told."""

from __future__ import annotations

import io
import re
import socket
from datetime import timedelta
from decimal import Decimal

import pytest
from django.core.management import CommandError, call_command
from django.utils import timezone
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements

Status = Payment.Status

pytestmark = pytest.mark.django_db(transaction=True)


def start(amount: str = "30.00") -> Payment:
    return start_payment(Decimal(amount), currency="CNY", recipient_account="2088000000000001")


def age(payment: Payment, minutes: float, refreshed_minutes_ago: float | None = None) -> None:
    now = timezone.now()
    Payment.objects.filter(pk=payment.pk).update(
        created_at=now - timedelta(minutes=minutes),
        refreshed_at=None if refreshed_minutes_ago is None
        else now - timedelta(minutes=refreshed_minutes_ago))


def lose_the_answer(payment: Payment) -> None:
    """Leaves the payment as a lost answer to create_payment does: the order exists, the
    shop never learnt its id."""
    Payment.objects.filter(pk=payment.pk).update(order_id=None, pay_url="",
                                                 status=Status.UNCONFIRMED)
    payment.refresh_from_db()


def reconcile(*args: str) -> tuple[str, CommandError | None]:
    out = io.StringIO()
    try:
        call_command("vemrat_pay_reconcile", *args, stdout=out)
    except CommandError as error:
        return out.getvalue(), error
    return out.getvalue(), None


def test_refresh_payment_takes_the_services_state(payments: PaymentSandbox,
                                                  announced: Announcements) -> None:
    payment = start()
    payments.pay(payment)
    payments.settle(payment, "28.00")
    assert refresh_payment(payment) is payment
    assert (payment.status, payment.settled, payment.settle_amount) == (Status.PAID, True,
                                                                        Decimal("28.00"))
    assert (payment.service_pay_status_text, payment.service_settle_amount) == ("paid", "28.00")
    assert payment.refreshed_at is not None
    assert announced.of(payment) == ["paid", "settled"]


def test_refresh_payment_passes_the_services_errors_on(payments: PaymentSandbox,
                                                       monkeypatch: pytest.MonkeyPatch) -> None:
    payment = start()
    Payment.objects.filter(pk=payment.pk).update(order_id="VPunknown")
    payment.refresh_from_db()
    with pytest.raises(RuntimeError, match="unknown order"):
        refresh_payment(payment)
    with socket.socket() as nothing_listens:
        nothing_listens.bind(("127.0.0.1", 0))
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL",
                           f"http://127.0.0.1:{nothing_listens.getsockname()[1]}")
        with pytest.raises(OSError):
            refresh_payment(payment)


def test_reconcile_refreshes_the_open_payments_that_are_due(payments: PaymentSandbox,
                                                            announced: Announcements) -> None:
    due_paid, due_pending, young, final, fresh, unsettled = (start() for _ in range(6))
    for payment in (due_paid, final, unsettled):
        payments.pay(payment)
    refresh_payment(final)
    refresh_payment(unsettled)
    announced.received.clear()
    age(due_paid, 30)
    age(due_pending, 20)
    age(young, 1)  # its callback may still be on the way
    age(final, 30)
    age(fresh, 30, refreshed_minutes_ago=2)
    age(unsettled, 30, refreshed_minutes_ago=30)
    untouched = {payment.pk: Payment.objects.get(pk=payment.pk).refreshed_at
                 for payment in (young, fresh, final, unsettled)}

    out, error = reconcile("--older-than", "300")
    assert error is None
    lines = out.splitlines()
    assert lines[0] == f"[1/2] {due_paid.reference} changed: pending -> paid"
    assert lines[1] == f"[2/2] {due_pending.reference} unchanged"
    assert lines[2] == "2 payments refreshed: 1 changed, 1 unchanged, 0 held, 0 no order id, 0 failed"
    assert announced.of(due_paid) == ["paid"] and len(announced.received) == 1
    assert untouched == {pk: Payment.objects.get(pk=pk).refreshed_at for pk in untouched}

    payments.settle(unsettled)
    out, error = reconcile("--older-than", "300", "--unsettled")
    assert f"{unsettled.reference} changed: settled" in out
    assert announced.of(unsettled) == ["settled"]


def test_reconcile_takes_the_least_recently_refreshed_first_and_stops_at_the_limit(
        payments: PaymentSandbox) -> None:
    payments_by_age = [start() for _ in range(3)]
    for minutes, payment in zip((10, 30, 20), payments_by_age):
        age(payment, 60, refreshed_minutes_ago=minutes)
    out, _ = reconcile("--older-than", "0", "--limit", "2")
    refreshed = re.findall(r"^\[\d/2\] (\S+) ", out, re.MULTILINE)
    assert refreshed == [str(payments_by_age[1].reference), str(payments_by_age[2].reference)]


def test_reconcile_reports_failures_and_goes_on(payments: PaymentSandbox) -> None:
    lost, known = start(), start()
    Payment.objects.filter(pk=lost.pk).update(order_id="VPunknown")
    payments.pay(known)
    out, error = reconcile("--older-than", "0")
    assert f"{lost.reference} failed: RuntimeError: " in out
    assert "2 payments refreshed: 1 changed, 0 unchanged, 0 held, 0 no order id, 1 failed" in out
    assert error is not None and "1 payments could not be refreshed" in str(error)
    assert Payment.objects.get(pk=known.pk).status == Status.PAID


def test_a_lost_answer_is_recovered_with_the_order_id_its_callback_reported(
        payments: PaymentSandbox, monkeypatch: pytest.MonkeyPatch,
        announced: Announcements) -> None:
    payment = start()
    lose_the_answer(payment)
    out, _ = reconcile("--older-than", "0")
    assert f"{payment.reference} no order id: " in out  # nothing to ask the service about yet

    payments.pay(payment)
    # Its callback arrives while the service cannot be asked: answered 503, but recorded.
    with socket.socket() as nothing_listens:
        nothing_listens.bind(("127.0.0.1", 0))
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL",
                           f"http://127.0.0.1:{nothing_listens.getsockname()[1]}")
        assert payments.deliver_callback(payment).status_code == 503
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", payments.sandbox.base_url)
    event = CallbackEvent.objects.get()
    assert (event.outcome, event.order_id) == (CallbackEvent.Outcome.UNAVAILABLE,
                                               payments.order_id(payment))

    out, error = reconcile("--older-than", "0")
    assert error is None
    assert f"{payment.reference} changed: order id {event.order_id} learned, unconfirmed -> paid" in out
    payment.refresh_from_db()
    assert (payment.order_id, payment.status) == (event.order_id, Status.PAID)
    assert announced.of(payment) == ["paid"]
