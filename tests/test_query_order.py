"""query_order: the signed query string as the service receives it, and the OrderStatus it
builds from the answer."""

import hashlib
import hmac
import re
import time
import urllib.parse

import pytest

import vemrat_pay

STATUS_PATH = "/alipayment/sponsor/order-status/"
QUERY = re.compile(
    r"community_key=(?P<community_key>[^&]*)&timestamp=(?P<timestamp>\d+)&nonce=(?P<nonce>[0-9a-f]{32})"
    r"&signature=(?P<signature>[0-9a-f]{64})&order_id=(?P<order_id>[^&]*)"
)


def expected_signature(sponsor_key: str, community_key: str, timestamp: str, nonce: str, order_id: str) -> str:
    message = (community_key + timestamp + nonce + order_id).encode("utf-8")
    return hmac.new(sponsor_key.encode("utf-8"), message, hashlib.sha256).hexdigest()


def quote(text: str) -> str:
    return urllib.parse.quote(text, safe="-._~")


@pytest.mark.parametrize(
    "community_key, sponsor_key, order_id",
    [
        ("ck", "sk", "A1"),
        ("ck", "sk", ""),
        ("ck", "sk", "A 1"),
        ("ck", "sk", "a/b&c=d?e#f"),
        ("ck", "sk", "订单-é-\U0001f600"),
        ("c k/+&é", "sk", "A1"),
        ("", "", "A1"),
        ("ck", "sponsor key é", "%41"),
    ],
)
def test_query_string_and_signature(served, community_key, sponsor_key, order_id):
    served.answer(200, '{"data":{}}')
    before = int(time.time())
    vemrat_pay.Client(community_key, sponsor_key).query_order(order_id)
    after = int(time.time())

    request = served.last
    assert (request.method, request.path, request.body) == ("GET", STATUS_PATH, b"")
    assert "Content-Length" not in request.headers and "Content-Type" not in request.headers
    found = QUERY.fullmatch(request.query)
    assert found, request.query
    assert found["community_key"] == quote(community_key)
    assert found["order_id"] == quote(order_id)
    assert before <= int(found["timestamp"]) <= after
    # Signed over the raw texts, recomputed from what the service received.
    received_community_key = urllib.parse.unquote(found["community_key"], errors="strict")
    received_order_id = urllib.parse.unquote(found["order_id"], errors="strict")
    assert (received_community_key, received_order_id) == (community_key, order_id)
    assert found["signature"] == expected_signature(
        sponsor_key, received_community_key, found["timestamp"], found["nonce"], received_order_id
    )


def test_empty_order_id_ends_the_url(stub, client):
    client.query_order("")
    assert stub.last.url.endswith("&order_id=")
    assert stub.last.url.startswith("http://service.test" + STATUS_PATH + "?community_key=ck&timestamp=")


def test_get_request_has_no_data(stub, client):
    client.query_order("A1")
    assert (stub.last.method, stub.last.data) == ("GET", None)


def test_two_calls_differ_in_nonce_and_signature(served, client):
    served.answer(200, '{"data":{}}')
    served.answer(200, '{"data":{}}')
    client.query_order("A1")
    client.query_order(order_id="A1")
    first, second = (QUERY.fullmatch(r.query) for r in served.requests)
    assert first["nonce"] != second["nonce"]
    assert first["signature"] != second["signature"]


@pytest.mark.parametrize(
    "base, prefix",
    [
        ("http://service.test/", "http://service.test//alipayment/sponsor/order-status/?"),
        ("http://service.test/api", "http://service.test/api/alipayment/sponsor/order-status/?"),
    ],
)
def test_base_url_is_not_trimmed(stub, client, monkeypatch, base, prefix):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", base)
    client.query_order("A1")
    assert stub.last.url.startswith(prefix)


def test_default_base_url(stub, client, monkeypatch):
    monkeypatch.delenv("VEMRAT_PAY_BASE_URL")
    client.query_order("A1")
    assert stub.last.url.startswith("https://api.vemrat.com" + STATUS_PATH + "?")


@pytest.mark.parametrize("order_id", [123, None, b"A1"])
def test_order_id_not_a_str(stub, client, order_id):
    with pytest.raises(TypeError) as caught:
        client.query_order(order_id)
    message = f"argument 'order_id': '{type(order_id).__qualname__}' object cannot be converted to 'PyString'"
    assert caught.value.args == (message,)
    assert stub.requests == []


def test_order_id_with_lone_surrogate(stub, client):
    with pytest.raises(UnicodeEncodeError):
        client.query_order("A\ud800")
    assert stub.requests == []


# --- the OrderStatus built from the answer ---------------------------------------------------

ATTRIBUTES = [
    ("order_id", str),
    ("pay_status", int),
    ("pay_status_text", str),
    ("settle_status", int),
    ("settle_status_text", str),
    ("refund_status", int),
    ("refund_status_text", str),
    ("amount", str),
    ("settle_amount", str),
    ("expired", str),
    ("fail_reason", str),
]

FULL = (
    '{"data":{"order_id":"A1","pay_status":1,"pay_status_text":"paid","settle_status":0,'
    '"settle_status_text":"pending","refund_status":-3,"refund_status_text":"refund failed",'
    '"amount":"10.00","settle_amount":"9.50","expired":"2025-01-01 00:00:00","fail_reason":"\\u00e9\\"q"}}'
)
EMPTY = dict(
    order_id="", pay_status=0, pay_status_text="", settle_status=0, settle_status_text="", refund_status=0,
    refund_status_text="", amount="", settle_amount="", expired="", fail_reason="",
)

ANSWERS = [
    pytest.param(
        FULL,
        dict(
            order_id="A1", pay_status=1, pay_status_text="paid", settle_status=0, settle_status_text="pending",
            refund_status=-3, refund_status_text="refund failed", amount="10.00", settle_amount="9.50",
            expired="2025-01-01 00:00:00", fail_reason='é"q',
        ),
        "OrderStatus(order_id='A1', pay_status=1, settle_status=0, refund_status=-3)",
        id="all fields",
    ),
    pytest.param(
        '{"data":{"pay_status":1,"pay_status_text":"paid"}}',
        {**EMPTY, "pay_status": 1, "pay_status_text": "paid"},
        "OrderStatus(order_id='', pay_status=1, settle_status=0, refund_status=0)",
        id="missing members default",
    ),
    pytest.param(
        '{"data":{"order_id":"A1","pay_status":"1"}}',
        {**EMPTY, "order_id": "A1"},
        "OrderStatus(order_id='A1', pay_status=0, settle_status=0, refund_status=0)",
        id="status as a string is 0",
    ),
    pytest.param(
        '{"data":{"pay_status":"1","settle_status":1.0,"refund_status":4294967297}}',
        {**EMPTY, "refund_status": 1},
        "OrderStatus(order_id='', pay_status=0, settle_status=0, refund_status=1)",
        id="int field rules",
    ),
    pytest.param(
        '{"data":{"pay_status":2147483648,"settle_status":-9223372036854775808,"refund_status":9223372036854775808}}',
        {**EMPTY, "pay_status": -2147483648},
        "OrderStatus(order_id='', pay_status=-2147483648, settle_status=0, refund_status=0)",
        id="low 32 bits, out of range 0",
    ),
    pytest.param(
        '{"data":{"order_id":123,"amount":12.5,"expired":null,"fail_reason":["x"],"pay_status":true}}',
        EMPTY,
        "OrderStatus(order_id='', pay_status=0, settle_status=0, refund_status=0)",
        id="wrong types default",
    ),
    pytest.param(
        '{"data":null}', EMPTY,
        "OrderStatus(order_id='', pay_status=0, settle_status=0, refund_status=0)",
        id="data null",
    ),
    pytest.param(
        '{"data":{"order_id":"it\'s é"}}', {**EMPTY, "order_id": "it's é"},
        "OrderStatus(order_id='it's é', pay_status=0, settle_status=0, refund_status=0)",
        id="apostrophe and non-ASCII unescaped",
    ),
]


@pytest.mark.parametrize("body, values, representation", ANSWERS)
def test_order_status_from_the_answer(served, client, body, values, representation):
    served.answer(200, body)
    status = client.query_order("asked")
    assert type(status) is vemrat_pay.OrderStatus
    for name, kind in ATTRIBUTES:
        value = getattr(status, name)
        assert type(value) is kind, name
        assert value == values[name], name
    assert repr(status) == representation
    assert str(status) == representation


def test_attribute_order_of_the_class():
    names = [n for n, v in vars(vemrat_pay.OrderStatus).items() if type(v).__name__ == "getset_descriptor"]
    assert names == [n for n, _ in ATTRIBUTES]


def test_order_id_comes_from_the_answer_not_the_argument(served, client):
    served.answer(200, '{"data":{"order_id":"service-id"}}')
    assert client.query_order("asked").order_id == "service-id"
