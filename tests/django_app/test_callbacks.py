"""The callback view: deliveries by the sandbox over HTTP, forgeries, repeats, races with order."""

from __future__ import annotations

import http.server
import json
import socket
import threading
import uuid
from decimal import Decimal
from typing import Any

import pytest
from django.test import Client
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox, post_callback, signed_callback
from vemrat_pay_sandbox import sign_callback

from conftest import Announcements

Status = Payment.Status
Outcome = CallbackEvent.Outcome

pytestmark = pytest.mark.django_db(transaction=True)


def start(amount: str = "20.00") -> Payment:
    return start_payment(Decimal(amount), currency="CNY", recipient_account="2088000000000001")


@pytest.mark.parametrize(("actions", "expected", "transitions"), [
    ([("pay", {})], {"status": Status.PAID, "settled": False, "refunded": False}, ["paid"]),
    ([("fail", {"reason": "card declined"})],
     {"status": Status.FAILED, "fail_reason": "card declined"}, ["failed"]),
    ([("expire", {})], {"status": Status.EXPIRED, "fail_reason": "order expired"}, ["expired"]),
    ([("pay", {}), ("settle", {"settle_amount": "12.50"})],
     {"status": Status.PAID, "settled": True, "settle_amount": Decimal("12.50")},
     ["paid", "settled"]),
    ([("pay", {}), ("settle", {}), ("refund", {})],
     {"settled": True, "settle_amount": Decimal("20.00"), "refunded": True},
     ["paid", "settled", "refunded"]),
], ids=["pay", "fail", "expire", "settle", "refund"])
def test_callbacks_delivered_by_the_sandbox_update_the_payment(
        live_payments: PaymentSandbox, announced: Announcements,
        actions: list[tuple[str, dict[str, Any]]], expected: dict[str, object],
        transitions: list[str]) -> None:
    payment = start()
    for action, options in actions:
        record = live_payments.act(payment, action, **options)
        delivered = record["callbacks"][-1]
        assert (delivered["url"], delivered["status"]) == (payment.callback_url, 200), delivered
    payment.refresh_from_db()
    for field, value in expected.items():
        assert getattr(payment, field) == value, field
    assert announced.of(payment) == transitions
    assert not any(seen.in_transaction for seen in announced.received)
    events = list(payment.callback_events.order_by("id"))
    assert [event.outcome for event in events] == [Outcome.CHANGED] * len(actions)
    assert all(event.verified and event.order_id == payment.order_id for event in events)
    service = live_payments.order(payment)
    assert (payment.service_pay_status, payment.service_settle_status,
            payment.service_refund_status) == (service["pay_status"], service["settle_status"],
                                               service["refund_status"])


def test_forged_and_malformed_callbacks_are_refused_and_recorded(
        payments: PaymentSandbox, announced: Announcements) -> None:
    payment = start("19.99")
    payments.pay(payment)
    genuine = payments.order(payment)["callbacks"][-1]
    body, signature = genuine["body"], genuine["signature"]
    reserialised = json.dumps(json.loads(body), indent=1, sort_keys=True)
    not_json = "status=paid"
    table: list[tuple[str, str | bytes, str | None]] = [
        ("signed with another key", body, signed_callback(payment, status="paid", amount="19.99",
                                                          sponsor_key="other-key")[1]),
        ("re-serialised body", reserialised, signature),
        ("tampered amount", body.replace("19.99", "0.01"), signature),
        ("upper-case signature", body, signature.upper()),
        ("signature of another callback", body,
         signed_callback(payment, status="failed", amount="19.99")[1]),
        ("no signature header", body, None),
        ("signed text that is not JSON", not_json, sign_callback("test-sponsor", not_json)),
        ("body that is not UTF-8", b'{"status":"paid\xff"}',
         sign_callback("test-sponsor", b'{"status":"paid\xff"}')),
        ("body with a NUL byte", body + "\x00", signature),
        ("signature with a NUL byte", body, signature + "\x00"),
    ]
    for description, forged_body, forged_signature in table:
        response = post_callback(payment, forged_body, forged_signature)
        assert response.status_code == 400, description
        event = CallbackEvent.objects.latest("id")
        assert (event.verified, event.outcome, event.payment_id) == (False, Outcome.REFUSED,
                                                                     payment.pk), description
        assert event.detail, description
    assert CallbackEvent.objects.filter(outcome=Outcome.REFUSED).count() == len(table)
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING
    assert announced.received == []

    # The genuine callback is accepted by the same endpoint.
    assert post_callback(payment, body, signature).status_code == 200
    assert Payment.objects.get(pk=payment.pk).status == Status.PAID
    assert announced.of(payment) == ["paid"]


def test_a_callback_is_only_a_hint_the_service_decides(payments: PaymentSandbox,
                                                       announced: Announcements) -> None:
    payment = start()
    # Genuinely signed, but the service's order is still pending.
    response = post_callback(payment, *signed_callback(payment, status="paid"))
    assert response.status_code == 200
    payment.refresh_from_db()
    assert payment.status == Status.PENDING
    assert payment.service_pay_status_text == "pending"
    event = payment.callback_events.get()
    assert (event.callback_status, event.outcome) == ("paid", Outcome.UNCHANGED)
    assert announced.received == []


def test_repeated_and_late_callbacks_change_nothing_twice(payments: PaymentSandbox,
                                                         announced: Announcements) -> None:
    payment = start()
    paid = payments.pay(payment)["callbacks"][-1]
    outcomes = [post_callback(payment, paid["body"], paid["signature"]).status_code
                for _ in range(3)]
    assert outcomes == [200, 200, 200]
    payments.refund(payment)
    assert payments.deliver_callback(payment).status_code == 200
    # The old "paid" arriving after the refund changes nothing back.
    assert post_callback(payment, paid["body"], paid["signature"]).status_code == 200
    payment.refresh_from_db()
    assert (payment.status, payment.refunded) == (Status.PAID, True)
    assert announced.of(payment) == ["paid", "refunded"]
    assert [event.outcome for event in payment.callback_events.order_by("id")] == [
        Outcome.CHANGED, Outcome.UNCHANGED, Outcome.UNCHANGED, Outcome.CHANGED, Outcome.UNCHANGED]


def test_a_failed_payment_stays_failed(payments: PaymentSandbox, announced: Announcements) -> None:
    payment = start()
    payments.fail(payment, reason="declined")
    payments.deliver_callback(payment)
    assert post_callback(payment, *signed_callback(payment, status="paid")).status_code == 200
    payment.refresh_from_db()
    assert (payment.status, payment.fail_reason) == (Status.FAILED, "declined")
    assert announced.of(payment) == ["failed"]


def test_a_callback_for_an_unknown_payment_is_not_found(payments: PaymentSandbox) -> None:
    stranger = Payment(reference=uuid.uuid4(), order_id="VPnotours", amount=Decimal("1.00"))
    response = post_callback(stranger, *signed_callback(stranger, status="paid"))
    assert response.status_code == 404
    event = CallbackEvent.objects.get()
    assert (event.verified, event.outcome, event.payment, event.reference) == (
        True, Outcome.UNKNOWN_PAYMENT, None, stranger.reference)


def test_another_orders_callback_is_refused(payments: PaymentSandbox,
                                            announced: Announcements) -> None:
    mine, other = start(), start()
    paid = payments.pay(other)["callbacks"][-1]
    response = post_callback(mine, paid["body"], paid["signature"])
    assert response.status_code == 400
    assert Payment.objects.get(pk=mine.pk).status == Status.PENDING
    event = mine.callback_events.get()
    assert (event.verified, event.outcome) == (True, Outcome.MISMATCH)
    assert announced.received == []


def test_when_the_service_cannot_be_asked_the_callback_is_to_be_retried(
        payments: PaymentSandbox, monkeypatch: pytest.MonkeyPatch,
        announced: Announcements) -> None:
    payment = start()
    payments.pay(payment)
    with socket.socket() as nothing_listens:
        nothing_listens.bind(("127.0.0.1", 0))
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL",
                           f"http://127.0.0.1:{nothing_listens.getsockname()[1]}")
        response = payments.deliver_callback(payment)
    assert response.status_code == 503
    assert payment.callback_events.get().outcome == Outcome.UNAVAILABLE
    assert Payment.objects.get(pk=payment.pk).status == Status.PENDING

    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", payments.sandbox.base_url)
    assert payments.deliver_callback(payment).status_code == 200
    assert Payment.objects.get(pk=payment.pk).status == Status.PAID
    assert announced.of(payment) == ["paid"]


class ConfusedService(http.server.ThreadingHTTPServer):
    """Answers every order-status query with the state of one other order."""

    daemon_threads = True
    answer = b'{"data":{"order_id":"VPother","pay_status":1,"amount":"20.00"}}'

    def __init__(self) -> None:
        super().__init__(("127.0.0.1", 0), ConfusedHandler)
        self.base_url = f"http://127.0.0.1:{self.server_address[1]}"


class ConfusedHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self) -> None:
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(ConfusedService.answer)))
        self.end_headers()
        self.wfile.write(ConfusedService.answer)

    def log_message(self, format: str, *args: object) -> None:
        pass


def test_an_answer_about_another_order_is_the_services_error(
        payments: PaymentSandbox, monkeypatch: pytest.MonkeyPatch,
        announced: Announcements) -> None:
    payment = start()
    # Its order id never arrived; a genuine callback names the order, the service then
    # answers about another one of the same amount.
    Payment.objects.filter(pk=payment.pk).update(order_id=None, status=Status.UNCONFIRMED)
    callback = signed_callback(payment, status="paid", order_id=payments.order_id(payment))
    service = ConfusedService()
    thread = threading.Thread(target=service.serve_forever, daemon=True)
    thread.start()
    try:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", service.base_url)
        response = post_callback(payment, *callback)
    finally:
        service.shutdown()
        thread.join()
        service.server_close()
    assert response.status_code == 503  # to be delivered again, not refused for good
    event = payment.callback_events.get()
    assert event.outcome == Outcome.UNAVAILABLE
    assert "answered about order 'VPother'" in event.detail
    payment.refresh_from_db()
    assert (payment.order_id, payment.status) == (None, Status.UNCONFIRMED)
    assert announced.received == []


def test_the_endpoint_takes_only_posts_and_needs_no_csrf_token(payments: PaymentSandbox) -> None:
    payment = start()
    strict = Client(enforce_csrf_checks=True)
    assert strict.get(payment.callback_url).status_code == 405
    assert post_callback(payment, *signed_callback(payment, status="paid"),
                         client=strict).status_code == 200
