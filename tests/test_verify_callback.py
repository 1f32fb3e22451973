"""verify_callback: the signature check against Python's hmac, and the fields it returns."""

import hashlib
import hmac
import json

import pytest

import vemrat_pay

SPONSOR_KEY = "sk"
KEYS = ["status", "order_id", "amount", "settle_amount", "reason", "expired"]


def signed(body: str, key: str = SPONSOR_KEY) -> str:
    return hmac.new(key.encode("utf-8"), body.encode("utf-8"), hashlib.sha256).hexdigest()


BODY = '{"status":"paid","order_id":"A1","amount":"10.00","settle_amount":"9.50","reason":"","expired":"2025-01-01"}'
FIELDS = {"status": "paid", "order_id": "A1", "amount": "10.00", "settle_amount": "9.50", "reason": "", "expired": "2025-01-01"}


def test_signed_callback_is_accepted(client):
    fields = client.verify_callback(BODY, signed(BODY))
    assert fields == FIELDS
    assert list(fields) == KEYS
    assert client.verify_callback(body=BODY, signature=signed(BODY)) == FIELDS


def flip(text: str, index: int) -> str:
    return text[:index] + chr(ord(text[index]) ^ 1) + text[index + 1:]


def rejected_pairs():
    signature = signed(BODY)
    yield "body byte changed", flip(BODY, 10), signature
    yield "last body byte changed", BODY[:-1] + " ", signature
    yield "re-serialised body", json.dumps(json.loads(BODY)), signature
    yield "signature first byte changed", BODY, flip(signature, 0)
    yield "signature last byte changed", BODY, flip(signature, 63)
    yield "upper-case signature", BODY, signature.upper()
    yield "leading space", BODY, " " + signature
    yield "trailing space", BODY, signature + " "
    yield "trailing newline", BODY, signature + "\n"
    yield "truncated", BODY, signature[:-1]
    yield "empty", BODY, ""
    yield "other key", BODY, signed(BODY, "other")
    yield "signature of the empty body", BODY, signed("")
    yield "wrongly signed malformed body", "{not json", signature


@pytest.mark.parametrize("body, signature", [p[1:] for p in rejected_pairs()], ids=[p[0] for p in rejected_pairs()])
def test_rejected(client, body, signature):
    with pytest.raises(RuntimeError) as caught:
        client.verify_callback(body, signature)
    assert type(caught.value) is RuntimeError
    assert caught.value.args == ("Invalid callback signature",)
    assert caught.value.__cause__ is None


@pytest.mark.parametrize(
    "body, message",
    [
        ("", "Invalid JSON body: EOF while parsing a value at line 1 column 0"),
        ("{not json", "Invalid JSON body: key must be a string at line 1 column 2"),
        ('{"status":"paid"} x', "Invalid JSON body: trailing characters at line 1 column 19"),
        ('{"status":"paid",}', "Invalid JSON body: trailing comma at line 1 column 18"),
    ],
)
def test_signed_malformed_body(client, body, message):
    with pytest.raises(RuntimeError) as caught:
        client.verify_callback(body, signed(body))
    assert caught.value.args == (message,)


FIELD_CASES = [
    pytest.param(
        '{"expired":"e","reason":"r","settle_amount":"s","amount":"a","order_id":"o","status":"t"}',
        {"status": "t", "order_id": "o", "amount": "a", "settle_amount": "s", "reason": "r", "expired": "e"},
        id="fixed order whatever the body order",
    ),
    pytest.param(
        '{"amount":12.5,"status":null,"order_id":7,"reason":true,"expired":[],"settle_amount":{}}',
        dict.fromkeys(KEYS, ""),
        id="non-string values give empty text",
    ),
    pytest.param('{"reason":"late","extra":"x","Status":"y"}', {"reason": "late"}, id="other members dropped"),
    pytest.param('["status","paid"]', {}, id="array"),
    pytest.param('"status"', {}, id="string"),
    pytest.param("null", {}, id="null"),
    pytest.param("{}", {}, id="empty object"),
    pytest.param(r'{"reason":"say \"hi\"\n\u00e9\ud83d\ude00\/"}', {"reason": 'say "hi"\né\U0001f600/'}, id="escapes"),
    pytest.param('{"status":"a","status":"b","amount":"1","amount":2}', {"status": "b", "amount": ""},
                 id="repeated keys, last wins"),
    pytest.param(' \n{"status":"paid"}\t\r\n', {"status": "paid"}, id="surrounding whitespace"),
    pytest.param('{"order_id":"订单 é","reason":"\U0001f600"}', {"order_id": "订单 é", "reason": "\U0001f600"},
                 id="non-ASCII"),
    pytest.param('{"reason":"a\\u0000b"}', {"reason": "a\x00b"}, id="NUL escape"),
]


@pytest.mark.parametrize("body, fields", FIELD_CASES)
def test_fields(client, body, fields):
    result = client.verify_callback(body, signed(body))
    assert type(result) is dict
    assert result == fields
    assert list(result) == [k for k in KEYS if k in fields]
    assert all(type(k) is str and type(v) is str for k, v in result.items())


def test_non_ascii_key_is_signed_as_utf8(client):
    client = vemrat_pay.Client("ck", "ключ-é")
    body = '{"status":"ok"}'
    assert client.verify_callback(body, signed(body, "ключ-é")) == {"status": "ok"}


def test_one_megabyte_body(client):
    reason = "x" * (1 << 20)
    body = json.dumps({"status": "paid", "reason": reason, "padding": ["é" * 1000] * 100})
    assert client.verify_callback(body, signed(body)) == {"status": "paid", "reason": reason}
    with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
        client.verify_callback(body + " ", signed(body))


@pytest.mark.parametrize(
    "args, message",
    [
        ((b"{}", "sig"), "argument 'body': 'bytes' object cannot be converted to 'PyString'"),
        ((b"{}", 5), "argument 'body': 'bytes' object cannot be converted to 'PyString'"),
        ((None, "sig"), "argument 'body': 'NoneType' object cannot be converted to 'PyString'"),
        (("{}", b"sig"), "argument 'signature': 'bytes' object cannot be converted to 'PyString'"),
        (("{}", None), "argument 'signature': 'NoneType' object cannot be converted to 'PyString'"),
    ],
)
def test_arguments_must_be_str(client, args, message):
    with pytest.raises(TypeError) as caught:
        client.verify_callback(*args)
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)


def test_bytes_body_is_refused_even_with_its_correct_signature(client):
    body = '{"status":"paid"}'
    with pytest.raises(TypeError, match="argument 'body'"):
        client.verify_callback(body.encode(), signed(body))


def test_lone_surrogate_is_the_interpreters_error(client):
    with pytest.raises(UnicodeEncodeError):
        client.verify_callback('{"status":"\udc80"}', "sig")
    with pytest.raises(UnicodeEncodeError):
        client.verify_callback("{}", "\ud800")
