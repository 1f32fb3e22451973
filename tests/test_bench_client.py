"""The benchmark's pure-Python client sends the same bytes as the module.

Both clients post through a recording stub in place of urllib.request.urlopen. The module's
request fixes the timestamp and nonce; the pure client is fed those two and must then build
the same method, URL (signature included, which it computes itself) and body.
"""

import json
import sys
import urllib.parse
import urllib.request
from pathlib import Path

import pytest

from vemrat_pay import Client

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
from pure_client import PureClient, session_exchange  # noqa: E402
from service_fixture import Answer  # noqa: E402

BASE = "http://127.0.0.1:9/base path"
PAYMENT_ANSWER = {"data": {"order_id": "P-1", "pay_url": "https://pay.example/é?x=1"}}
STATUS_ANSWER = {
    "data": {
        "order_id": "O-9", "pay_status": 1, "pay_status_text": "paid", "settle_status": 4294967297,
        "settle_status_text": "settled \"in full\"", "refund_status": 1.0, "amount": "10.00",
        "settle_amount": 9.5, "expired": "2030-01-01", "fail_reason": None,
    }
}
KEYS = [
    ("ck", "sk"),
    ("c k&=/?", "s+k%é"),
    ("", ""),
    ("社区键", "🔑~-._"),
]


class Response:
    def __init__(self, answer):
        self.body = json.dumps(answer).encode()

    def getcode(self):
        return 200

    def read(self):
        return self.body


class Recorder(list):
    """The (method, URL, body) of every request, answered with `answer`."""

    answer = PAYMENT_ANSWER

    def urlopen(self, request):
        self.append((request.get_method(), request.full_url, request.data))
        return Response(self.answer)


@pytest.fixture
def recorded(monkeypatch):
    recorder = Recorder()
    monkeypatch.setattr(urllib.request, "urlopen", recorder.urlopen)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", BASE)
    return recorder


def pure_client_fed(keys, timestamp, nonce):
    return PureClient(*keys, clock=lambda: int(timestamp), nonce=lambda: nonce)


PAYMENTS = [
    ((10.0, "CNY", "acct", "/cb"), {}),
    ((19.99, "CNY", "a&b=c d", "/cb?x=1&y=2"), {"pay_mode": "direct", "return_url": "/done"}),
    ((0.1 + 0.2, "€uro", "收款人", "https://shop.example/通知#frag"), {"return_url": ""}),
    ((1e21, "", "", ""), {"pay_mode": "", "return_url": None}),
    ((1.5e-7, "usd", "~user.name-1_", "%41+%2F"), {"return_url": "ünïcödé 🎉"}),
    ((-0.0, "X", "Y", "Z"), {}),
    ((7, "X", "Y", "Z"), {}),
    ((float("nan"), "X", "Y", "Z"), {}),
    ((float("-inf"), "X", "Y", "Z"), {}),
]


@pytest.mark.parametrize("keys", KEYS)
@pytest.mark.parametrize("args, kwargs", PAYMENTS)
def test_create_payment_sends_the_same_bytes(recorded, keys, args, kwargs):
    module_result = Client(*keys).create_payment(*args, **kwargs)
    method, url, body = recorded[0]
    fields = urllib.parse.parse_qs(body.decode(), keep_blank_values=True)
    (timestamp,), (nonce,) = fields["timestamp"], fields["nonce"]

    pure_result = pure_client_fed(keys, timestamp, nonce).create_payment(*args, **kwargs)

    assert len(recorded) == 2
    assert recorded[1] == (method, url, body)
    assert method == "POST" and url == BASE + "/alipayment/sponsor/pay/"
    assert (pure_result.order_id, pure_result.pay_url) == (module_result.order_id, module_result.pay_url)
    assert module_result.order_id == "P-1"


ORDER_IDS = ["A1", "", "A 1/2&x=y", "订单-42", "%25 already", "emoji🎉~"]


@pytest.mark.parametrize("keys", KEYS)
@pytest.mark.parametrize("order_id", ORDER_IDS)
def test_query_order_sends_the_same_bytes(recorded, keys, order_id):
    recorded.answer = STATUS_ANSWER
    module_result = Client(*keys).query_order(order_id)
    method, url, body = recorded[0]
    query = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query, keep_blank_values=True)
    (timestamp,), (nonce,) = query["timestamp"], query["nonce"]

    pure_result = pure_client_fed(keys, timestamp, nonce).query_order(order_id)

    assert len(recorded) == 2
    assert recorded[1] == (method, url, body)
    assert method == "GET" and body is None
    names = type(pure_result).__slots__
    assert {name: getattr(pure_result, name) for name in names} == {
        name: getattr(module_result, name) for name in names
    }
    assert module_result.settle_status == 1 and module_result.refund_status == 0


def test_the_fed_clock_and_nonce_are_what_make_the_bytes_equal(recorded):
    Client("ck", "sk").query_order("A1")
    pure_client_fed(("ck", "sk"), "1", "0" * 32).query_order("A1")
    assert recorded[0][1] != recorded[1][1]


SESSION_CALLS = {
    "create_payment": lambda client: client.create_payment(19.99, "CNY", "a&b=c d", "/cb?x=1", return_url="/é"),
    "query_order": lambda client: client.query_order("订单 42"),
}


@pytest.mark.parametrize("call", SESSION_CALLS.values(), ids=SESSION_CALLS.keys())
def test_requests_session_sends_the_same_bytes(served, call):
    import requests

    served.respond = lambda request: Answer(200, json.dumps(PAYMENT_ANSWER if request.body else STATUS_ANSWER).encode())
    module_result = call(Client("ck", "sk"))
    sent = served.last
    fields = dict(urllib.parse.parse_qsl(sent.body.decode() or sent.query))
    with requests.Session() as session:
        exchange = session_exchange(session)
        client = PureClient("ck", "sk", clock=lambda: int(fields["timestamp"]), nonce=lambda: fields["nonce"],
                            exchange=exchange)
        pure_result = call(client)
    again = served.last
    assert len(served.requests) == 2
    assert (again.method, again.path, again.query, again.body) == (sent.method, sent.path, sent.query, sent.body)
    assert again.headers["Content-Type"] == sent.headers["Content-Type"]
    assert pure_result.order_id == module_result.order_id != ""
