"""Input that a careless or hostile client sends: every request gets an answer, nothing it
sends reaches a header unchecked, and secrets are compared in constant time."""

import hmac
import json
import select
import socket

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import (CallbackReceiver, Merchant, SlowClient, control, exchange, raw_exchange, record,
                  wait_until)


@pytest.mark.parametrize("field", ["return_url", "user_notify_url"])
@pytest.mark.parametrize("url", [
    "https://shop.example/done\r\nSet-Cookie: session=stolen",
    "https://shop.example/done\nX-Injected: 1",
    "https://shop.example/done\r",
    "https://shop.example/\x00",
    "https://shop.example/\x85next-line",
])
def test_control_characters_in_urls_are_refused_at_creation(sandbox, merchant, field, url):
    answer = merchant.pay(**{field: url})
    assert (answer.status, answer.detail) == (400, f"invalid {field}: must not contain control characters")
    assert sandbox.store.orders() == []


# IRIs and the URIs they become (RFC 3987, section 3.1): UTF-8 bytes percent-encoded,
# IDNA for the host, reserved characters and existing escapes kept.
IRIS = [
    ("http://shop.example/订单/42", "http://shop.example/%E8%AE%A2%E5%8D%95/42"),
    ("https://shop.example/ü?q=é&r=%41#änd", "https://shop.example/%C3%BC?q=%C3%A9&r=%41#%C3%A4nd"),
    ("https://例え.jp:8443/a b", "https://xn--r8jz45g.jp:8443/a%20b"),
    ("https://shop.example/done?o=1", "https://shop.example/done?o=1"),
]


@pytest.mark.parametrize("iri, uri", IRIS)
def test_a_return_url_outside_latin1_redirects_as_its_ascii_form(sandbox, merchant, iri, uri):
    order_id = merchant.new_order(return_url=iri)
    answer = exchange(f"{sandbox.base_url}/pay/{order_id}/pay", "POST", b"")
    assert (answer.status, answer.headers["Location"]) == (303, uri)
    assert record(sandbox.base_url, order_id)["return_url"] == iri


def test_a_host_that_idna_cannot_encode_is_refused(merchant):
    answer = merchant.pay(return_url="https://" + "ü" * 64 + ".example/")
    assert (answer.status, answer.detail) == (
        400, "invalid return_url: its host name cannot be converted to ASCII")


def test_a_notify_url_outside_ascii_receives_its_callback(sandbox, merchant):
    with CallbackReceiver() as receiver:
        notify = receiver.url.replace("/payments/callback", "/回调 1")
        order_id = merchant.new_order(user_notify_url=notify)
        control(sandbox.base_url, order_id, "pay")
        sandbox.wait_for_callbacks()
    assert [path for _, _, path in receiver.received] == ["/%E5%9B%9E%E8%B0%83%201"]


@pytest.mark.parametrize("body, detail", [
    (rb'{"reason": "\ud800"}', "request body is not text: it escapes a lone surrogate"),
    (rb'{"reason": "ok\udfff"}', "request body is not text: it escapes a lone surrogate"),
    (b'{"reason": ', "request body is not JSON"),
    (b"\xff", "request body is not UTF-8"),
])
def test_malformed_control_requests_get_400_with_a_detail(sandbox, merchant, body, detail):
    order_id = merchant.new_order()
    answer = exchange(f"{sandbox.base_url}/sandbox/orders/{order_id}/fail", "POST", body,
                      {"Content-Type": "application/json"})
    assert (answer.status, answer.detail) == (400, detail)
    assert record(sandbox.base_url, order_id)["pay_status"] == 0


@pytest.mark.parametrize("request_bytes, status", [
    (b"GARBAGE\r\n\r\n", 400),
    (b"GET /sandbox/orders HTTP/9.9\r\n\r\n", 505),
    (b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n", 414),
    (b"BREW /sandbox/orders HTTP/1.1\r\nHost: x\r\n\r\n", 501),
    (b"POST /alipayment/sponsor/pay/ HTTP/1.1\r\nContent-Length: -5\r\n\r\n", 400),
    ("POST /sandbox/faults HTTP/1.1\r\nContent-Length: \u00b2\r\n\r\nab".encode("latin-1"), 400),
    ("POST /sandbox/faults HTTP/1.1\r\nContent-Length: \u00b9\u00b2\r\n\r\n".encode("latin-1"), 400),
    (b"POST /sandbox/faults HTTP/1.1\r\nContent-Length: +2\r\n\r\n{}", 400),
    (b"POST /sandbox/faults HTTP/1.1\r\nContent-Length: 1_0\r\n\r\n{}", 400),
    (b"POST /sandbox/faults HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}", 400),
    (b"POST /sandbox/faults HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n{}", 413),
])
def test_requests_the_parser_refuses_get_a_json_detail(sandbox, request_bytes, status):
    answer = raw_exchange(sandbox.base_url, request_bytes)
    head, _, body = answer.partition(b"\r\n\r\n")
    assert head.split(b" ", 2)[1] == str(status).encode(), answer[:200]
    assert json.loads(body)["detail"]


def test_a_fault_of_the_sandbox_itself_is_a_500_with_a_detail(capfd):
    def broken_clock() -> float:
        raise OSError("clock unavailable")

    with Sandbox({"ck": "sk"}, clock=broken_clock) as sandbox:
        answer = Merchant(sandbox.base_url, "ck", "sk").pay()
        assert answer.status == 500
        assert answer.json == {"detail": "internal error: OSError: clock unavailable"}
        # The next request on a new connection is served as usual.
        assert exchange(sandbox.base_url + "/sandbox/orders").data == []
    assert "OSError: clock unavailable" in capfd.readouterr().err


def test_the_sponsor_key_is_compared_in_constant_time(merchant, monkeypatch):
    compared = []
    real_compare = hmac.compare_digest

    def spy(a, b):
        compared.append((a, b))
        return real_compare(a, b)

    monkeypatch.setattr(hmac, "compare_digest", spy)
    answer = merchant.pay(sponsor_key="sk-guess")
    assert (answer.status, answer.detail) == (401, "wrong sponsor key")
    assert (b"sk-one", b"sk-guess") in compared


def test_connections_beyond_the_bound_wait_for_a_free_slot():
    with Sandbox({"ck": "sk"}, max_connections=2) as sandbox:
        address = sandbox.server.server_address
        silent = [socket.create_connection(address, timeout=10) for _ in range(2)]
        waiting = socket.create_connection(address, timeout=10)
        try:
            waiting.sendall(b"GET /sandbox/orders HTTP/1.0\r\n\r\n")
            wait_until(lambda: sandbox.server.waiting == 1)
            # Accepted but not served: both slots are held by the silent connections.
            assert select.select([waiting], [], [], 0)[0] == []
            silent[0].close()
            answer = waiting.makefile("rb").read()
            assert answer.startswith(b"HTTP/1.1 200 ")
            assert sandbox.server.waiting == 0
        finally:
            waiting.close()
            for connection in silent:
                connection.close()



PADDED_HEAD = b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\nX-Pad: " + b"a" * 1000 + b"\r\n\r\n"
RULE_BODY = b'{"endpoint": "payment", "fault": "error", "status": 503, "detail": "' + b"a" * 1000 + b'"}'


@pytest.mark.parametrize("whole, trickled", [
    (b"", PADDED_HEAD),
    (b"POST /sandbox/faults HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\n\r\n" % len(RULE_BODY),
     RULE_BODY),
])
def test_slow_clients_cannot_hold_the_connection_slots(whole, trickled):
    with Sandbox({"ck": "sk"}, max_connections=2, request_timeout=0.5) as sandbox:
        slow = [SlowClient(sandbox.server.server_address, whole, trickled) for _ in range(2)]
        try:
            wait_until(lambda: sandbox.server.connections_accepted == 2)
            # Served once a slow client's time is up and its slot free.
            assert exchange(sandbox.base_url + "/sandbox/orders").data == []
            # The other slow client's time may still be running: its answer is read whole.
            for client in slow:
                client.wait_for_close()
        finally:
            for client in slow:
                client.close()
        for client in slow:
            head, _, body = client.answer.partition(b"\r\n\r\n")
            assert head.startswith(b"HTTP/1.1 408 "), client.answer
            assert json.loads(body) == {"detail": "the request did not arrive whole within 0.5 s"}
        assert sandbox.faults() == []
