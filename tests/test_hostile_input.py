"""Hostile input: bodies far deeper, longer or stranger than any real callback or answer, through
verify_callback and through the stubbed transport, and key files with enormous values.

Every case has its exact result. The sizes are chosen so that work growing faster than the
input (quadratic scans, copies per byte, recursion per level) would take minutes: the suite's
own duration shows it, no test measures time."""

import hashlib
import hmac
import pytest

import vemrat_pay

SPONSOR_KEY = "sk-hostile"
MB = 1_000_000


def signed(body, key=SPONSOR_KEY):
    return hmac.new(key.encode("utf-8"), body.encode("utf-8", "surrogatepass"), hashlib.sha256).hexdigest()


def position(body, offset):
    """Line and column of a byte offset, counted as the reader counts them."""
    data = body.encode("utf-8")[:offset]
    newline = data.rfind(b"\n")
    return data.count(b"\n") + 1, offset - (newline + 1)


@pytest.fixture
def hostile_client():
    return vemrat_pay.Client("ck-hostile", SPONSOR_KEY)


@pytest.fixture(scope="module")
def big_text():
    return "x" * (100 * MB)


def verify_error(client, body):
    with pytest.raises(RuntimeError) as raised:
        client.verify_callback(body, signed(body))
    assert raised.value.args == (str(raised.value),)
    return str(raised.value)


# --- through verify_callback --------------------------------------------------------------


def opener_offset(body, count):
    """The offset just after the `count`-th bracket that opens an array or object."""
    seen = 0
    for index, character in enumerate(body):
        if character in "[{":
            seen += 1
            if seen == count:
                return index + 1
    raise AssertionError("not enough brackets")


@pytest.mark.parametrize(
    "unit, reason",
    [("[", "recursion limit exceeded"), ('[{"a":', "recursion limit exceeded"), ("{", "key must be a string")],
)
def test_a_million_open_brackets(hostile_client, unit, reason):
    body = unit * (MB // len(unit))
    offset = 2 if unit == "{" else opener_offset(body, 128)
    assert verify_error(hostile_client, body) == f"Invalid JSON body: {reason} at line 1 column {offset}"


def test_nesting_up_to_the_limit_many_times_over(hostile_client):
    body = "[" + ",".join(["[" * 126 + "]" * 126] * 20_000) + "]"
    assert hostile_client.verify_callback(body, signed(body)) == {}


def test_a_100_mb_string_member(hostile_client, big_text):
    body = '{"order_id":"' + big_text + '","status":"paid"}'
    fields = hostile_client.verify_callback(body, signed(body))
    assert list(fields) == ["status", "order_id"]
    assert fields["status"] == "paid"
    assert len(fields["order_id"]) == len(big_text) and fields["order_id"] == big_text


@pytest.mark.parametrize(
    "tail, reason, from_end",
    [
        ('"}x', "trailing characters", 0),
        ('",}', "trailing comma", 0),
        ('"', "EOF while parsing an object", 0),
        ("", "EOF while parsing a string", 0),
        ('\x01"}', "control character (\\u0000-\\u001F) found while parsing a string", 2),
        ('\\x"}', "invalid escape", 2),
    ],
    ids=["trailing characters", "trailing comma", "cut after the value", "cut in the string", "control", "escape"],
)
def test_a_100_mb_body_invalid_at_its_end(hostile_client, big_text, tail, reason, from_end):
    body = '{"order_id":"' + big_text + tail
    line, column = position(body, len(body) - from_end)
    assert verify_error(hostile_client, body) == f"Invalid JSON body: {reason} at line {line} column {column}"


def test_a_100_mb_body_with_a_bad_signature_is_refused_before_parsing(hostile_client, big_text):
    body = "[" * len(big_text)
    with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
        hostile_client.verify_callback(body, signed(body[:-1]))


@pytest.mark.parametrize("unit", [" ", "\n", "\t\r\n ", "\r"])
def test_a_body_of_only_whitespace(hostile_client, unit):
    body = unit * (10 * MB // len(unit))
    line, column = position(body, len(body.encode()))
    assert verify_error(hostile_client, body) == (
        f"Invalid JSON body: EOF while parsing a value at line {line} column {column}"
    )


def test_a_million_repeats_of_one_key_keep_the_last(hostile_client):
    body = "{" + ",".join(f'"status":"s{index}"' for index in range(MB)) + ',"amount":"1"}'
    assert hostile_client.verify_callback(body, signed(body)) == {"status": f"s{MB - 1}", "amount": "1"}


def test_a_million_unknown_members_and_long_unknown_keys(hostile_client):
    body = "{" + ",".join(f'"k{index}":[{index},null,true]' for index in range(MB)) + "}"
    assert hostile_client.verify_callback(body, signed(body)) == {}
    body = '{"' + "reason" * MB + '":"x","reason":"' + "r" * MB + '"}'
    assert hostile_client.verify_callback(body, signed(body)) == {"reason": "r" * MB}


NUL_CASES = [
    pytest.param(r'{"order_id":"a\u0000b"}', {"order_id": "a\x00b"}, id="escaped NUL in a value"),
    pytest.param('{"order_id":"' + r"\u0000" * MB + '"}', {"order_id": "\x00" * MB}, id="a million escaped NULs"),
    pytest.param(r'{"order_id\u0000":"a","status":"s"}', {"status": "s"}, id="escaped NUL in a key"),
    pytest.param(r'{"\u0000":"a","reason":"\u0000"}', {"reason": "\x00"}, id="NUL as the whole key"),
    pytest.param('{"reason":"a\\u0000\\ud83d\\ude00\x7f"}', {"reason": "a\x00\U0001f600\x7f"}, id="NUL beside a pair"),
]


@pytest.mark.parametrize("body, fields", NUL_CASES)
def test_nul_inside_strings_and_keys(hostile_client, body, fields):
    assert hostile_client.verify_callback(body, signed(body)) == fields


@pytest.mark.parametrize(
    "body, reason",
    [
        ('{"order_id":"a\x00b"}', "control character (\\u0000-\\u001F) found while parsing a string"),
        ('{"a\x00":1}', "control character (\\u0000-\\u001F) found while parsing a string"),
        ('\x00{"status":"s"}', "expected value"),
        ('{"status":"s"}\x00', "trailing characters"),
        ('{"status":"s",\x00}', "key must be a string"),
    ],
    ids=["in a value", "in a key", "before", "after", "in place of a key"],
)
def test_raw_nul_in_the_body(hostile_client, body, reason):
    line, column = position(body, body.index("\x00") + 1)
    assert verify_error(hostile_client, body) == f"Invalid JSON body: {reason} at line {line} column {column}"


def test_raw_nul_in_the_keys_and_the_signature():
    # The whole key is the HMAC key, NUL and all: a key cut at the NUL signs differently.
    client = vemrat_pay.Client("c\x00k", "s\x00k")
    body = '{"status":"paid"}'
    assert client.verify_callback(body, signed(body, "s\x00k")) == {"status": "paid"}
    with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
        client.verify_callback(body, signed(body, "s"))
    with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
        client.verify_callback(body, signed(body, "s\x00k") + "\x00")


# --- through the stubbed transport ----------------------------------------------------------


def test_a_100_mb_answer(stub, hostile_client, big_text):
    stub.answer(200, '{"data":{"order_id":"' + big_text + '","pay_url":"u"}}')
    result = hostile_client.create_payment(1.0, "CNY", "acct", "/cb")
    assert result.order_id == big_text and result.pay_url == "u"


def test_a_100_mb_answer_invalid_at_its_end(stub, hostile_client, big_text):
    body = '{"data":{"order_id":"' + big_text + '"}}]'
    stub.answer(200, body)
    with pytest.raises(RuntimeError) as raised:
        hostile_client.query_order("A")
    line, column = position(body, len(body))
    assert str(raised.value) == f"Invalid JSON: trailing characters at line {line} column {column} | body: {body}"


def test_a_100_mb_error_answer_is_not_parsed(stub, hostile_client, big_text):
    body = "[" * len(big_text)
    stub.answer(502, body)
    with pytest.raises(RuntimeError) as raised:
        hostile_client.create_payment(1.0, "CNY", "acct", "/cb")
    assert str(raised.value) == f"HTTP 502: {body}"


def test_a_deep_answer(stub, hostile_client):
    body = '{"data":' + "[" * MB
    stub.answer(200, body)
    with pytest.raises(RuntimeError) as raised:
        hostile_client.query_order("A")
    assert str(raised.value) == f"Invalid JSON: recursion limit exceeded at line 1 column 135 | body: {body}"


@pytest.mark.parametrize("unit", [" ", "\r\n"])
def test_a_whitespace_answer(stub, hostile_client, unit):
    body = unit * (5 * MB // len(unit))
    stub.answer(200, body)
    with pytest.raises(RuntimeError) as raised:
        hostile_client.query_order("A")
    line, column = position(body, len(body))
    assert str(raised.value) == f"Invalid JSON: EOF while parsing a value at line {line} column {column} | body: {body}"


def test_an_answer_with_nul_bytes(stub, hostile_client):
    stub.answer(200, b'{"data":{"order_id":"a\\u0000b","pay_url":"\x00"}}')
    with pytest.raises(RuntimeError, match="^Invalid JSON: control character"):
        hostile_client.create_payment(1.0, "CNY", "acct", "/cb")
    stub.answer(200, b'{"data":{"order_id":"a\\u0000b","pay_url":"\\u0000"}}')
    result = hostile_client.create_payment(1.0, "CNY", "acct", "/cb")
    assert (result.order_id, result.pay_url) == ("a\x00b", "\x00")


def test_nul_in_arguments_is_encoded(stub, hostile_client):
    stub.answer(200, '{"data":{}}')
    hostile_client.create_payment(1.0, "C\x00Y", "a\x00", "/cb\x00", "split", "\x00")
    body = stub.last.data.decode("ascii")
    for field in ("currency=C%00Y&", "recipient_account=a%00&", "user_notify_url=%2Fcb%00&", "return_url=%00"):
        assert field in body


# --- key files ----------------------------------------------------------------------------


def test_ten_megabyte_keys_from_the_key_file(stub, tmp_path, monkeypatch):
    community = "c€" * (5 * MB)  # 15 MB of UTF-8, encoded to 45 MB on the wire
    sponsor = "s" * (10 * MB)
    lines = [f"# filler line {index} COMMUNITY_KEY" for index in range(200_000)]
    lines += [f'COMMUNITY_KEY = "{community}"', f"SPONSOR_KEY = '{sponsor}'"]
    (tmp_path / "auth_key.py").write_text("\n".join(lines) + "\n", encoding="utf-8")
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv("IS_LAN", raising=False)
    monkeypatch.delenv("DJANGO_SETTINGS_MODULE", raising=False)
    client = vemrat_pay.Client()

    body = '{"status":"paid"}'
    assert client.verify_callback(body, signed(body, sponsor)) == {"status": "paid"}
    stub.answer(200, '{"data":{}}')
    client.create_payment(1.0, "CNY", "acct", "/cb")
    form = stub.form()
    assert form["community_key"] == community and form["sponsor_key"] == sponsor
    assert len(stub.last.data) > 3 * len(community.encode())


def test_a_key_file_of_one_huge_line_without_the_key(tmp_path, monkeypatch):
    (tmp_path / "auth_key.py").write_text("SPONSOR_KEY = " + "=" * (50 * MB), encoding="utf-8")
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv("IS_LAN", raising=False)
    monkeypatch.delenv("DJANGO_SETTINGS_MODULE", raising=False)
    with pytest.raises(RuntimeError, match="^COMMUNITY_KEY not found in auth_key.py$"):
        vemrat_pay.Client()


def test_ten_megabyte_keys_passed_in():
    sponsor = "\x00é" * (5 * MB)
    client = vemrat_pay.Client("c" * (10 * MB), sponsor)
    body = "[]"
    assert client.verify_callback(body, signed(body, sponsor)) == {}
    with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
        client.verify_callback(body, signed(body, sponsor[:-1]))
