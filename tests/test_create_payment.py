"""create_payment: the form body and URL as the service receives them, the amount text, the
percent-encoding, the base URL and the conversion of the arguments."""

import math
import random
import re
import struct
import time
import urllib.parse

import pytest

import vemrat_pay

PAY_PATH = "/alipayment/sponsor/pay/"
FRESHNESS = re.compile(r"&timestamp=(\d+)&nonce=([0-9a-f]{32})&")


def fields(body: str):
    """The timestamp and nonce of a form body, and the body with them replaced by T and N."""
    found = FRESHNESS.search(body)
    assert found, body
    return int(found[1]), found[2], FRESHNESS.sub("&timestamp=T&nonce=N&", body, count=1)


def raw_field(body: str, name: str) -> str:
    found = re.search(rf"(?:^|&){name}=([^&]*)", body)
    assert found, f"{name} missing from {body!r}"
    return found[1]


# The form body of the default call Client("ck", "sk").create_payment(10.0, "CNY", "acct", "/cb"),
# field by field in wire order, T and N standing for the timestamp and the nonce.
DEFAULT_BODY = {
    "community_key": "ck", "sponsor_key": "sk", "timestamp": "T", "nonce": "N", "amount": "10", "currency": "CNY",
    "recipient_account": "acct", "user_notify_url": "%2Fcb", "pay_mode": "split",
}


def body(**changed):
    """The default body with some fields changed; return_url, when given, comes last."""
    fields = {**DEFAULT_BODY, **changed}
    return "&".join(f"{name}={value}" for name, value in fields.items())


DEFAULT_ARGS = (10.0, "CNY", "acct", "/cb")

# (client keys, arguments, keyword arguments, body with T and N for timestamp and nonce)
BODIES = [
    pytest.param(("ck", "sk"), DEFAULT_ARGS, {}, body(), id="defaults"),
    pytest.param(("ck", "sk"), DEFAULT_ARGS, {"return_url": "/done"}, body(return_url="%2Fdone"),
                 id="return_url appended"),
    pytest.param(("ck", "sk"), (*DEFAULT_ARGS, "split", None), {}, body(), id="return_url None"),
    pytest.param(("ck", "sk"), DEFAULT_ARGS, {"return_url": ""}, body(), id="return_url empty"),
    pytest.param(("ck", "sk"), DEFAULT_ARGS, {"pay_mode": "direct"}, body(pay_mode="direct"),
                 id="direct still sends the account"),
    pytest.param(("ck", "sk"), (10, "CNY", "acct", "/cb?x=1&y=2"), {}, body(user_notify_url="%2Fcb%3Fx%3D1%26y%3D2"),
                 id="integer amount, notify URL with a query"),
    pytest.param(
        ("c k+", "s/k%"), (0.1, "C é", "a~b", "/cb", "", "https://x/y?z"), {},
        body(community_key="c%20k%2B", sponsor_key="s%2Fk%25", amount="0.1", currency="C%20%C3%A9",
             recipient_account="a~b", pay_mode="", return_url="https%3A%2F%2Fx%2Fy%3Fz"),
        id="encoded keys and values, empty pay mode",
    ),
    pytest.param(
        ("", ""), (1.5, "", "", ""), {},
        body(community_key="", sponsor_key="", amount="1.5", currency="", recipient_account="", user_notify_url=""),
        id="empty keys and texts",
    ),
]


@pytest.mark.parametrize("keys, args, kwargs, expected", BODIES)
def test_body_as_the_service_receives_it(served, keys, args, kwargs, expected):
    served.answer(200, '{"data":{"order_id":"A1","pay_url":"https://pay/A1"}}')
    before = int(time.time())
    result = vemrat_pay.Client(*keys).create_payment(*args, **kwargs)
    after = int(time.time())

    request = served.last
    assert len(served.requests) == 1
    assert (request.method, request.path, request.query) == ("POST", PAY_PATH, "")
    timestamp, _nonce, body = fields(request.body.decode("ascii"))
    assert before <= timestamp <= after
    assert body == expected
    assert request.headers["Content-Type"] == "application/x-www-form-urlencoded"
    assert request.headers["Content-Length"] == str(len(request.body))
    assert (result.order_id, result.pay_url) == ("A1", "https://pay/A1")


def test_each_call_has_a_fresh_nonce(served, client):
    for _ in range(3):
        served.answer(200, '{"data":{}}')
        client.create_payment(1, "CNY", "a", "/cb")
    nonces = {fields(r.body.decode("ascii"))[1] for r in served.requests}
    assert len(nonces) == 3


def test_keyword_arguments_match_positional(served, client):
    for _ in range(2):
        served.answer(200, '{"data":{}}')
    client.create_payment(2.5, "USD", "acct", "/n", "direct", "/r")
    client.create_payment(
        return_url="/r", pay_mode="direct", notify_url="/n", recipient_account="acct", currency="USD", amount=2.5
    )
    first, second = (fields(r.body.decode("ascii"))[2] for r in served.requests)
    assert first == second


# --- amount text -------------------------------------------------------------------------


class Floaty:
    def __float__(self):
        return 2.25


class Indexy:
    def __index__(self):
        return 7


AMOUNTS = [
    (10.0, "10"),
    (10, "10"),
    (19.99, "19.99"),
    (0.1 + 0.2, "0.30000000000000004"),
    (1e21, "1" + "0" * 21),
    (1.5e-7, "0.00000015"),
    (-2.5, "-2.5"),
    (-0.0, "-0"),
    (float("nan"), "NaN"),
    (float("inf"), "inf"),
    (float("-inf"), "-inf"),
    (Floaty(), "2.25"),
    (Indexy(), "7"),
    (True, "1"),
    (2**53 + 1, "9007199254740992"),
]


@pytest.mark.parametrize("amount, text", AMOUNTS, ids=[t for _, t in AMOUNTS])
def test_amount_text(stub, client, amount, text):
    client.create_payment(amount, "CNY", "acct", "/cb")
    assert raw_field(stub.last.data.decode("ascii"), "amount") == text


@pytest.mark.parametrize(
    "amount, message",
    [
        ("10.00", "argument 'amount': must be real number, not str"),
        (None, "argument 'amount': must be real number, not NoneType"),
        (b"10", "argument 'amount': must be real number, not bytes"),
    ],
)
def test_amount_not_convertible(stub, client, amount, message):
    with pytest.raises(TypeError) as caught:
        client.create_payment(amount, "CNY", "acct", "/cb")
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)
    assert stub.requests == []


def test_amount_conversion_errors_other_than_type_error_pass_unchanged(stub, client):
    with pytest.raises(OverflowError) as caught:
        client.create_payment(10**400, "CNY", "acct", "/cb")
    assert "argument" not in str(caught.value)


def positional(value: float) -> str:
    """Plain positional notation built from repr's shortest digits."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    text = repr(abs(value))
    mantissa, _, exponent = text.partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    point = len(whole) + (int(exponent) if exponent else 0)
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    if not digits:
        return sign + "0"
    if point <= 0:
        return f"{sign}0.{'0' * -point}{digits}"
    if point >= len(digits):
        return sign + digits + "0" * (point - len(digits))
    return f"{sign}{digits[:point]}.{digits[point:]}"


def test_positional_oracle_itself():
    assert [positional(x) for x in (10.0, 1e21, 1.5e-7, -0.0, 0.001, 123.456, 1e16, 5e-324)] == [
        "10", "1" + "0" * 21, "0.00000015", "-0", "0.001", "123.456", "1" + "0" * 16, "0." + "0" * 323 + "5",
    ]


def test_amount_text_of_random_doubles(stub, client):
    generator = random.Random(20240613)
    values = [struct.unpack("<d", generator.getrandbits(64).to_bytes(8, "little"))[0] for _ in range(3000)]
    values += [generator.uniform(-1e6, 1e6) for _ in range(500)]
    values += [round(generator.uniform(0, 10000), 2) for _ in range(500)]
    for value in values:
        client.create_payment(value, "CNY", "acct", "/cb")
        sent = raw_field(stub.last.data.decode("ascii"), "amount")
        assert sent == positional(value), (value.hex(), sent)
        if not math.isnan(value):
            assert float(sent) == value


# --- percent-encoding --------------------------------------------------------------------


def random_text(generator: random.Random) -> str:
    def character() -> str:
        pick = generator.random()
        if pick < 0.5:
            return chr(generator.randrange(0x80))
        if pick < 0.75:
            return chr(generator.randrange(0x80, 0x800))
        if pick < 0.9:
            code = generator.randrange(0x800, 0x10000 - 0x800)
            return chr(code + 0x800 if code >= 0xD800 else code)
        return chr(generator.randrange(0x10000, 0x110000))

    return "".join(character() for _ in range(generator.randrange(0, 24)))


def test_percent_encode_matches_quote(stub, client):
    generator = random.Random(7)
    texts = ["", " ", "+%&=/:?#", "~-._", "\x00\x7f", "é", "\U0001f600", "%41"]
    texts += [random_text(generator) for _ in range(1500)]
    for text in texts:
        client.create_payment(1, text, "acct", "/cb")
        assert raw_field(stub.last.data.decode("ascii"), "currency") == urllib.parse.quote(text, safe="-._~"), text


def test_lone_surrogate_fails_with_the_interpreters_error(stub, client):
    with pytest.raises(UnicodeEncodeError):
        client.create_payment(1, "CNY", "\udc80", "/cb")
    assert stub.requests == []


# --- base URL ----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "base, url",
    [
        (None, "https://api.vemrat.com" + PAY_PATH),
        ("http://service.test/", "http://service.test/" + PAY_PATH),
        ("http://service.test/api", "http://service.test/api" + PAY_PATH),
        ("http://127.0.0.1:1", "http://127.0.0.1:1" + PAY_PATH),
    ],
)
def test_base_url(stub, client, monkeypatch, base, url):
    if base is None:
        monkeypatch.delenv("VEMRAT_PAY_BASE_URL")
    else:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", base)
    client.create_payment(1, "CNY", "acct", "/cb")
    assert stub.last.url == url
    assert stub.last.method == "POST"


def test_base_url_is_read_on_every_call(stub, client, monkeypatch):
    client.create_payment(1, "CNY", "acct", "/cb")
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", "http://other.test")
    client.create_payment(1, "CNY", "acct", "/cb")
    assert [r.url for r in stub.requests] == ["http://service.test" + PAY_PATH, "http://other.test" + PAY_PATH]


def test_empty_base_url_is_refused_by_urllib(client, monkeypatch):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", "")
    with pytest.raises(ValueError) as caught:
        client.create_payment(1, "CNY", "acct", "/cb")
    assert type(caught.value) is ValueError
    assert str(caught.value) == f"unknown url type: '{PAY_PATH}'"


# --- argument conversion -----------------------------------------------------------------

NOT_A_STR = "'{}' object cannot be converted to 'PyString'"

CONVERSION_ERRORS = [
    # (args, kwargs, message): the first failing argument in parameter order is reported
    ((1, None, "a", "/cb"), {}, "argument 'currency': " + NOT_A_STR.format("NoneType")),
    ((1, "CNY", 5, "/cb"), {}, "argument 'recipient_account': " + NOT_A_STR.format("int")),
    ((1, "CNY", "a", b"/cb"), {}, "argument 'notify_url': " + NOT_A_STR.format("bytes")),
    ((1, "CNY", "a", "/cb", None), {}, "argument 'pay_mode': " + NOT_A_STR.format("NoneType")),
    ((1, "CNY", "a", "/cb"), {"return_url": 3.5}, "argument 'return_url': " + NOT_A_STR.format("float")),
    (("x", None, None, None, None, 1), {}, "argument 'amount': must be real number, not str"),
    ((1, None, 2, None), {}, "argument 'currency': " + NOT_A_STR.format("NoneType")),
    ((1, "CNY", "a", None, 7), {}, "argument 'notify_url': " + NOT_A_STR.format("NoneType")),
    ((1, "CNY", "a", "/cb"), {"pay_mode": None, "return_url": 1}, "argument 'pay_mode': " + NOT_A_STR.format("NoneType")),
]


@pytest.mark.parametrize("args, kwargs, message", CONVERSION_ERRORS, ids=[m for _, _, m in CONVERSION_ERRORS])
def test_conversion_errors(stub, client, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        client.create_payment(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None
    assert stub.requests == []


def test_return_url_none_is_accepted(stub, client):
    client.create_payment(1, "CNY", "a", "/cb", "split", None)
    client.create_payment(1, "CNY", "a", "/cb", return_url=None)
    assert all("return_url" not in r.data.decode("ascii") for r in stub.requests)
    assert len(stub.requests) == 2


def test_str_subclasses_are_sent_as_text(stub, client):
    class Text(str):
        pass

    client.create_payment(1, Text("CNY"), Text("a"), Text("/cb"), Text("direct"), Text("/r"))
    body = stub.last.data.decode("ascii")
    assert raw_field(body, "pay_mode") == "direct"
    assert raw_field(body, "return_url") == "%2Fr"
