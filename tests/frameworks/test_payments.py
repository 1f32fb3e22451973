"""The payments service on SQLAlchemy, against the sandbox, on SQLite and PostgreSQL: what each
create outcome stores and announces, the recovery of an order whose answer was lost, what
callbacks are answered and recorded, and announcements exactly once when deliveries meet."""

from __future__ import annotations

import hashlib
import threading
import uuid
from datetime import timedelta
from decimal import Decimal
from typing import Any

import pytest
from sqlalchemy import Engine, func, select, text
from vemrat_pay_ledger.ledger import ReferenceConflict
from vemrat_pay_sqlalchemy import CallbackEvent, MissingBaseURL, Payment, Payments, PaymentsConfig
from vemrat_pay_sqlalchemy.testing import PaymentSandbox, signed_callback

from conftest import Announced

RECIPIENT = "2088000000000001"


def start(payments: Payments, amount: str = "10.00", **options: Any) -> Payment:
    return payments.start_payment(Decimal(amount), currency="CNY", recipient_account=RECIPIENT,
                                  **options)


def deliver(payments: Payments, sandbox: PaymentSandbox, payment: Payment) -> tuple[int, str]:
    """Hands the order's latest callback, as the sandbox signed it, to the service."""
    request = sandbox.callback_request(payment)
    answer = payments.handle_callback(str(payment.reference), request.body.encode("utf-8"),
                                      request.headers["X-Vemrat-Signature"])
    return answer.status, answer.detail


# How the create call ends, what the payment then is, what is announced, orders at the service.
CREATE_CASES = {
    "created": (None, "pending", [], 1),
    "refused by the service": ({"fault": "error", "status": 400, "detail": "recipient unknown"},
                               "failed", ["failed"], 0),
    "answer lost after the order was stored": ({"fault": "timeout_after_commit", "seconds": 0},
                                               "unconfirmed", [], 1),
}


@pytest.mark.parametrize("fault, status, announced_events, orders", CREATE_CASES.values(),
                         ids=CREATE_CASES.keys())
def test_each_create_outcome_is_stored_and_announced(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced,
        fault: dict[str, Any] | None, status: str, announced_events: list[str],
        orders: int) -> None:
    if fault is not None:
        sandbox.sandbox.add_fault(endpoint="payment", **fault)
    payment = start(payments)
    stored = payments.get(payment.reference)
    assert stored is not None
    assert (payment.status, stored.status) == (status, status)
    assert bool(stored.order_id) == (status == "pending")
    if status == "failed":
        assert "recipient unknown" in stored.fail_reason
    assert announced.of(payment) == announced_events
    assert len(sandbox.sandbox.orders()) == orders


def test_a_lost_answer_is_completed_by_the_orders_callback_announced_once(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced) -> None:
    sandbox.sandbox.add_fault("timeout_after_commit", "payment", seconds=0)
    payment = start(payments, "64.00")
    order_id = sandbox.order_id(payment)
    sandbox.pay(payment)

    assert deliver(payments, sandbox, payment) == (200, f"order id {order_id} learned, "
                                                        "unconfirmed -> paid")
    assert deliver(payments, sandbox, payment) == (200, "")  # again: nothing left to change
    stored = payments.get(payment.reference)
    assert stored is not None and (stored.order_id, stored.status) == (order_id, "paid")
    assert announced.of(payment) == ["paid"]
    assert len(sandbox.sandbox.orders()) == 1


def test_reconcile_completes_it_when_the_callback_could_not_be_acted_on(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced) -> None:
    sandbox.sandbox.add_fault("timeout_after_commit", "payment", seconds=0)
    payment = start(payments, "64.00")
    sandbox.pay(payment)
    sandbox.sandbox.add_fault("error", "order_status", status=503, detail="maintenance")
    assert deliver(payments, sandbox, payment)[0] == 503

    refreshed = payments.reconcile(older_than=timedelta(0))
    order_id = sandbox.order_id(payment)
    assert [(r.payment.reference, r.outcome, r.detail) for r in refreshed] == [
        (payment.reference, "changed", f"order id {order_id} learned, unconfirmed -> paid")]
    assert announced.of(payment) == ["paid"]
    assert payments.reconcile(older_than=timedelta(0)) == []  # final now: not due


def test_the_same_reference_is_the_same_payment_and_other_parameters_are_refused(
        payments: Payments, sandbox: PaymentSandbox) -> None:
    reference = uuid.uuid4()
    first = start(payments, reference=reference)
    again = start(payments, reference=reference)
    assert (again.reference, again.order_id) == (first.reference, first.order_id)
    with pytest.raises(ReferenceConflict, match="other parameters"):
        start(payments, "99.00", reference=reference)
    assert len(sandbox.sandbox.orders()) == 1


def test_without_an_origin_nothing_is_saved(sandbox: PaymentSandbox, engine: Engine) -> None:
    payments = Payments(sandbox.config(), engine)
    with pytest.raises(MissingBaseURL, match="callback_base_url"):
        start(payments)
    with engine.connect() as connection:
        assert connection.scalar(select(func.count()).select_from(Payment)) == 0
    assert sandbox.sandbox.orders() == []


def callback_cases(payment: Payment, other: Payment) -> dict[str, tuple[str, bytes, str, int, str]]:
    """reference in the URL, body, signature -> answer status, recorded outcome."""
    paid = signed_callback(payment, status="paid")
    of_other = signed_callback(other, status="paid")
    forged = signed_callback(payment, status="paid", sponsor_key="not-the-key")
    return {
        "genuine": (str(payment.reference), paid.body.encode(), paid.headers["X-Vemrat-Signature"],
                    200, "unchanged"),
        "forged": (str(payment.reference), forged.body.encode(),
                   forged.headers["X-Vemrat-Signature"], 400, "refused"),
        "no signature": (str(payment.reference), paid.body.encode(), "", 400, "refused"),
        "not UTF-8": (str(payment.reference), b"\xff" + paid.body.encode(),
                      paid.headers["X-Vemrat-Signature"], 400, "refused"),
        "another payment's order": (str(payment.reference), of_other.body.encode(),
                                    of_other.headers["X-Vemrat-Signature"], 400, "mismatch"),
        "unknown payment": (str(uuid.uuid4()), paid.body.encode(),
                            paid.headers["X-Vemrat-Signature"], 404, "unknown-payment"),
    }


def test_callbacks_are_answered_as_the_django_view_does_and_recorded(
        payments: Payments, engine: Engine) -> None:
    payment, other = start(payments), start(payments)
    cases = callback_cases(payment, other)
    for name, (reference, body, signature, status, outcome) in cases.items():
        answer = payments.handle_callback(reference, body, signature)
        assert (answer.status, answer.outcome) == (status, outcome), name
    assert payments.handle_callback("not-a-uuid", b"{}", "").status == 404
    with engine.connect() as connection:
        recorded = connection.execute(select(CallbackEvent.outcome, CallbackEvent.body_length)
                                      .order_by(CallbackEvent.id)).all()
    assert recorded == [(outcome, len(body)) for _, body, _, _, outcome in cases.values()]


def test_a_forged_body_is_kept_bounded_with_the_digest_of_the_whole(
        payments: Payments, engine: Engine) -> None:
    payment = start(payments)
    body = b'{"status":"paid","pad":"' + b"x" * (2 * 1024 * 1024) + b'"}'
    assert payments.handle_callback(str(payment.reference), body, "0" * 64).status == 400
    with engine.connect() as connection:
        kept, length, digest = connection.execute(
            select(CallbackEvent.body, CallbackEvent.body_length, CallbackEvent.body_sha256)).one()
    assert (len(kept) <= 4096, length, digest) == (True, len(body), hashlib.sha256(body).hexdigest())


def test_the_shops_database_failing_is_answered_503_for_a_later_delivery(
        payments: Payments, sandbox: PaymentSandbox, engine: Engine,
        caplog: pytest.LogCaptureFixture) -> None:
    payment = start(payments)
    sandbox.pay(payment)
    with engine.begin() as connection:
        connection.execute(text("DROP TABLE vemrat_pay_callback_event"))
    request = sandbox.callback_request(payment)
    answer = payments.handle_callback(str(payment.reference), request.body.encode(),
                                      request.headers["X-Vemrat-Signature"])
    assert (answer.status, answer.outcome) == (503, "unverifiable")
    digest = hashlib.sha256(request.body.encode()).hexdigest()
    assert f"callback for {payment.reference} ({len(request.body)} bytes, sha256 {digest}) " \
           "could not be recorded" in caplog.text


def test_deliveries_at_the_same_time_announce_the_transition_once(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced) -> None:
    payment = start(payments)
    sandbox.pay(payment)
    request = sandbox.callback_request(payment)
    answers: list[int] = []
    barrier = threading.Barrier(8)

    def deliver_one() -> None:
        barrier.wait()
        answers.append(payments.handle_callback(str(payment.reference), request.body.encode(),
                                                request.headers["X-Vemrat-Signature"]).status)

    threads = [threading.Thread(target=deliver_one) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert answers == [200] * 8
    assert announced.of(payment) == ["paid"]


def test_a_receiver_that_raises_leaves_the_transition_and_the_other_receivers(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced,
        caplog: pytest.LogCaptureFixture) -> None:
    def broken(payment: Payment) -> None:
        raise RuntimeError("the warehouse is down")

    payments.events.connect("paid", broken)
    after: list[uuid.UUID] = []
    payments.events.connect("paid", lambda payment: after.append(payment.reference))
    payment = start(payments)
    sandbox.pay(payment)
    assert deliver(payments, sandbox, payment)[0] == 200
    assert announced.of(payment) == ["paid"] and after == [payment.reference]
    assert "the warehouse is down" in caplog.text
    stored = payments.get(payment.reference)
    assert stored is not None and stored.status == "paid"


def test_settle_and_refund_are_announced_in_order(
        payments: Payments, sandbox: PaymentSandbox, announced: Announced) -> None:
    payment = start(payments)
    for action in (sandbox.pay, sandbox.settle, sandbox.refund):
        action(payment)
        assert deliver(payments, sandbox, payment)[0] == 200
    assert announced.of(payment) == ["paid", "settled", "refunded"]
    stored = payments.get(payment.reference)
    assert stored is not None and (stored.settled, stored.refunded) == (True, True)


def test_config_keys_reach_the_service(sandbox: PaymentSandbox, engine: Engine,
                                       nowhere: str) -> None:
    wrong = PaymentsConfig(community_key=sandbox.config().community_key,
                           sponsor_key="wrong-sponsor", callback_base_url=nowhere)
    payment = start(Payments(wrong, engine))
    assert payment.status == "failed"  # the service refused the keys: 401 with its detail
    assert "401" in payment.fail_reason
