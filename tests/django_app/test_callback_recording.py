"""What is recorded of each callback request: one that the shop's own configuration keeps from
being checked is answered 503 and kept whole; one that does not verify costs bounded space."""

from __future__ import annotations

import contextlib
import hashlib
import uuid
from collections.abc import Iterator
from decimal import Decimal
from pathlib import Path
from typing import Any

import pytest
from django.db import connection
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox, post_callback


from conftest import Announcements

Status = Payment.Status
Outcome = CallbackEvent.Outcome
# The documented bound on the part of a body that did not verify which is kept.
UNVERIFIED_BODY_LIMIT = 4096

pytestmark = pytest.mark.django_db(transaction=True)


def start() -> Payment:
    return start_payment(Decimal("12.00"), currency="CNY", recipient_account="2088000000000001")


def unreadable_keys(settings: Any, tmp_path: Path) -> None:
    """The keys are to come from auth_key.py, which cannot be read (it is a directory)."""
    (tmp_path / "auth_key.py").mkdir()
    settings.WORKING_SPACE = str(tmp_path)
    settings.VEMRAT_PAY = {name: value for name, value in settings.VEMRAT_PAY.items()
                           if name not in ("COMMUNITY_KEY", "SPONSOR_KEY")}


@contextlib.contextmanager
def failing_writes(table: str, operation: str) -> Iterator[None]:
    """A database that refuses every UPDATE or INSERT on `table`, as a full disk would."""
    with connection.cursor() as cursor:
        if connection.vendor == "postgresql":
            cursor.execute("CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN "
                           "RAISE EXCEPTION 'could not extend file'; END $$ LANGUAGE plpgsql")
            cursor.execute(f"CREATE TRIGGER refuse BEFORE {operation} ON {table} "
                           "FOR EACH ROW EXECUTE FUNCTION refuse()")
        else:
            cursor.execute(f"CREATE TRIGGER refuse BEFORE {operation} ON {table} "
                           "BEGIN SELECT RAISE(ABORT, 'could not extend file'); END")
    yield
    with connection.cursor() as cursor:
        cursor.execute(f"DROP TRIGGER refuse{' ON ' + table if connection.vendor == 'postgresql' else ''}")
        if connection.vendor == "postgresql":
            cursor.execute("DROP FUNCTION refuse()")


def test_with_unreadable_keys_a_genuine_callback_is_answered_503_and_kept(
        payments: PaymentSandbox, announced: Announcements, settings: Any, tmp_path: Path) -> None:
    payment = start()
    payments.pay(payment)
    callback = payments.order(payment)["callbacks"][-1]
    keys = settings.VEMRAT_PAY
    unreadable_keys(settings, tmp_path)

    response = post_callback(payment, callback["body"], callback["signature"])
    assert response.status_code == 503  # the service delivers it again
    event = CallbackEvent.objects.get()
    assert (event.outcome, event.verified, event.payment_id) == (Outcome.UNVERIFIABLE, False, payment.pk)
    assert event.body == callback["body"] and event.signature == callback["signature"]
    assert "auth_key.py" in event.detail
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING

    settings.VEMRAT_PAY = keys  # the keys are readable again: the next delivery goes through
    assert post_callback(payment, callback["body"], callback["signature"]).status_code == 200
    assert Payment.objects.get(pk=payment.pk).status == Status.PAID
    assert announced.of(payment) == ["paid"]


def test_a_database_error_while_acting_on_a_callback_is_answered_503_and_recorded(
        payments: PaymentSandbox, announced: Announcements) -> None:
    payment = start()
    payments.pay(payment)
    with failing_writes(Payment._meta.db_table, "UPDATE"):
        response = payments.deliver_callback(payment)
    assert response.status_code == 503
    event = CallbackEvent.objects.get()
    assert (event.outcome, event.verified) == (Outcome.UNVERIFIABLE, True)
    assert "could not extend file" in event.detail
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING
    assert announced.received == []


def test_a_callback_that_cannot_even_be_recorded_is_answered_503_and_logged(
        payments: PaymentSandbox, caplog: pytest.LogCaptureFixture) -> None:
    payment = start()
    payments.pay(payment)
    body = payments.order(payment)["callbacks"][-1]["body"].encode()
    with failing_writes(CallbackEvent._meta.db_table, "INSERT"):
        response = payments.deliver_callback(payment)
    assert response.status_code == 503  # the service delivers it again
    assert f"sha256 {hashlib.sha256(body).hexdigest()}" in caplog.text
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING
    assert payments.deliver_callback(payment).status_code == 200


@pytest.mark.parametrize("known_payment", [True, False], ids=["its payment", "any reference"])
def test_forged_bodies_cost_bounded_space(payments: PaymentSandbox, known_payment: bool) -> None:
    target = start() if known_payment else Payment(reference=uuid.uuid4())
    body = b'{"order_id":"VP1","status":"paid","padding":"' + b"\xff\x00" * (1 << 20) + b'"}'
    for _ in range(5):
        assert post_callback(target, body, "forged").status_code == 400
    events = list(CallbackEvent.objects.all())
    assert len(events) == 5
    for event in events:
        assert (event.outcome, event.verified) == (Outcome.REFUSED, False)
        assert len(event.body.encode("utf-8")) <= 3 * UNVERIFIED_BODY_LIMIT
        assert len(event.body) <= UNVERIFIED_BODY_LIMIT
        assert (event.body_length, event.body_sha256) == (len(body), hashlib.sha256(body).hexdigest())
        assert "\x00" not in event.body
