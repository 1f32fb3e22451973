"""Fault rules on the two merchant requests, seen through the real module as a shop sees them."""

import socket

import pytest

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER
from wire import CallbackReceiver, control


@pytest.fixture
def client(sandbox, monkeypatch):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", sandbox.base_url)
    return vemrat_pay.Client("ck-one", "sk-one")


@pytest.fixture
def socket_timeout():
    """Sets the process-wide socket timeout the module's requests run under."""
    previous = socket.getdefaulttimeout()

    def set_timeout(seconds: float) -> None:
        socket.setdefaulttimeout(seconds)

    yield set_timeout
    socket.setdefaulttimeout(previous)


def pay(client, notify_url="http://127.0.0.1:9/callback"):
    return client.create_payment(12.5, "CNY", "2088000000000001", notify_url)


def test_timeout_after_commit_creates_the_order_the_shop_never_learns_of(
        sandbox, client, socket_timeout):
    sandbox.add_fault("timeout_after_commit", "payment", merchant="ck-one")
    with CallbackReceiver() as receiver:
        socket_timeout(0.5)
        with pytest.raises(TimeoutError):
            pay(client, receiver.url)
        socket_timeout(None)

        [order] = sandbox.orders()
        assert (order["community_key"], order["amount"], order["user_notify_url"]) == \
            ("ck-one", "12.50", receiver.url)
        control(sandbox.base_url, order["order_id"], "pay")
        sandbox.wait_for_callbacks()
    [(headers, body, _)] = receiver.received
    fields = client.verify_callback(body.decode(), headers[SIGNATURE_HEADER])
    assert (fields["order_id"], fields["status"]) == (order["order_id"], "paid")
    # The rule is used up: the next payment is answered.
    assert pay(client).order_id != order["order_id"]


def test_timeout_after_commit_with_no_hold_drops_the_connection(sandbox, client):
    sandbox.add_fault("timeout_after_commit", "payment", seconds=0)
    with pytest.raises(ConnectionError):
        pay(client)
    assert len(sandbox.orders()) == 1


def test_timeout_after_commit_on_a_query_uses_up_its_nonce(sandbox, client, socket_timeout):
    order_id = pay(client).order_id
    sandbox.add_fault("timeout_after_commit", "order_status")
    socket_timeout(0.5)
    with pytest.raises(TimeoutError):
        client.query_order(order_id)
    socket_timeout(None)
    assert client.query_order(order_id).pay_status == 0


@pytest.mark.parametrize("endpoint", ["payment", "order_status"])
@pytest.mark.parametrize("options, message", [
    (dict(status=503), 'HTTP 503: {"detail":"Service Unavailable"}'),
    (dict(status=429, detail="slow down"), 'HTTP 429: {"detail":"slow down"}'),
    (dict(status=500, detail="défaillance"), 'HTTP 500: {"detail":"défaillance"}'),
])
def test_error_answers_instead_of_the_service(sandbox, client, endpoint, options, message):
    order_id = pay(client).order_id if endpoint == "order_status" else None
    sandbox.add_fault("error", endpoint, count=2, **options)
    call = (lambda: pay(client)) if endpoint == "payment" else (lambda: client.query_order(order_id))
    for _ in range(2):
        with pytest.raises(RuntimeError) as raised:
            call()
        assert str(raised.value) == message
    assert len(sandbox.orders()) == (1 if order_id else 0)
    assert call() is not None
    assert sandbox.faults() == []


@pytest.mark.parametrize("endpoint", ["payment", "order_status"])
@pytest.mark.parametrize("body, message", [
    ("not_json", "Invalid JSON: "),
    ("no_data", "Missing 'data' in response: {\"result\":\"ok\"}"),
])
def test_malformed_answers_200_with_a_body_the_module_refuses(sandbox, client, endpoint, body,
                                                              message):
    order_id = pay(client).order_id
    sandbox.add_fault("malformed", endpoint, body=body)
    with pytest.raises(RuntimeError) as raised:
        pay(client) if endpoint == "payment" else client.query_order(order_id)
    assert str(raised.value).startswith(message)
    assert len(sandbox.orders()) == 1


def test_delay_answers_correctly_once_it_has_passed(sandbox, client):
    sandbox.add_fault("delay", "payment", seconds=0.2)
    payment = pay(client)
    assert sandbox.order(payment.order_id)["amount"] == "12.50"
    sandbox.add_fault("delay", "order_status", seconds=0.2)
    assert client.query_order(payment.order_id).order_id == payment.order_id


def test_delay_longer_than_the_shop_waits_is_a_timeout_after_the_work(sandbox, client,
                                                                      socket_timeout):
    sandbox.add_fault("delay", "payment", seconds=30)
    socket_timeout(0.3)
    with pytest.raises(TimeoutError):
        pay(client)
    socket_timeout(None)
    assert len(sandbox.orders()) == 1


def test_a_rule_for_one_merchant_leaves_the_others_alone(sandbox, client):
    sandbox.add_fault("error", "payment", merchant="ck-two", status=503)
    assert pay(client).order_id
    other = vemrat_pay.Client("ck-two", "sk-two")
    with pytest.raises(RuntimeError, match="HTTP 503"):
        pay(other)
    assert pay(other).order_id


def test_rules_apply_in_the_order_they_were_added(sandbox, client):
    sandbox.add_fault("error", "payment", status=502)
    sandbox.add_fault("malformed", "payment", body="no_data")
    outcomes = []
    for _ in range(3):
        try:
            outcomes.append(pay(client).order_id[:2])
        except RuntimeError as error:
            outcomes.append(str(error)[:8])
    assert outcomes == ["HTTP 502", "Missing ", "VP"]


def test_a_refused_request_is_still_spoiled_by_its_rule(sandbox, monkeypatch):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", sandbox.base_url)
    wrong_key = vemrat_pay.Client("ck-one", "not-the-key")
    sandbox.add_fault("delay", "payment", seconds=0.1)
    with pytest.raises(RuntimeError, match='HTTP 401: {"detail":"wrong sponsor key"}'):
        pay(wrong_key)
    assert sandbox.faults() == []
