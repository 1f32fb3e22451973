"""Every path of the three operations releases what it took: the arguments, the response and
the exception objects keep their reference counts, and a returned value has nothing pending."""

import hashlib
import hmac
import io
import sys
import urllib.error
import urllib.request

import pytest
from service_fixture import StubResponse

import vemrat_pay

REPEAT = 20


def fresh(text: str) -> str:
    """A str object of its own, not shared with constants elsewhere."""
    return "".join(list(text))


def http_error(code: int, body: bytes) -> urllib.error.HTTPError:
    return urllib.error.HTTPError("http://service.test/x", code, "m", {}, io.BytesIO(body))


class Failure(Exception):
    pass


def answers():
    """(name, respond function for the stub, objects whose counts must not change)."""
    ok = StubResponse(200, b'{"data":{"order_id":"A","pay_url":"u"}}')
    yield "success", lambda request: ok, [ok]
    not_found = StubResponse(404, b"nope")
    yield "HTTP 404", lambda request: not_found, [not_found]
    bad_json = StubResponse(200, b"{")
    yield "invalid JSON", lambda request: bad_json, [bad_json]
    detail = StubResponse(200, b'{"detail":"no"}')
    yield "detail", lambda request: detail, [detail]
    missing = StubResponse(200, b"[]")
    yield "missing data", lambda request: missing, [missing]
    text = StubResponse(200, "text")
    yield "read gives str", lambda request: text, [text, text.data]
    items = [123, 300]
    overflow = StubResponse(200, items)
    yield "item out of range", lambda request: overflow, [overflow, items]
    code = "200"
    odd_code = StubResponse(code, b"{}")
    yield "getcode not an int", lambda request: odd_code, [odd_code, code]
    failure = Failure("down")

    def fail(request):
        raise failure.with_traceback(None)

    yield "urlopen raises", fail, [failure]

    def answer_error(request):
        raise http_error(500, b"boom")

    yield "HTTPError answer", answer_error, []


def call_quietly(call):
    try:
        call()
    except BaseException:
        pass


def counts(objects):
    return [sys.getrefcount(o) for o in objects]


@pytest.mark.parametrize("name, respond, kept", list(answers()), ids=[a[0] for a in answers()])
def test_operations_release_everything(stub, name, respond, kept):
    client = vemrat_pay.Client(fresh("community"), fresh("sponsor"))
    amount = float(fresh("12.5"))
    texts = [fresh(t) for t in ("CNY", "acct", "/notify", "direct", "/return", "order-1")]
    currency, account, notify, mode, back, order_id = texts
    pay = lambda: client.create_payment(amount, currency, account, notify, mode, back)  # noqa: E731
    query = lambda: client.query_order(order_id)  # noqa: E731
    stub.respond = respond
    watched = [client, amount, *texts, *kept]

    call_quietly(pay)
    call_quietly(query)
    before = counts(watched)
    for _ in range(REPEAT):
        call_quietly(pay)
        call_quietly(query)
    assert counts(watched) == before


def test_conversion_failures_release_the_arguments(stub, client):
    texts = [fresh(t) for t in ("CNY", "acct", "/notify")]
    bad = [fresh("x")]  # for amount
    calls = [
        lambda: client.create_payment(bad[0], *texts),
        lambda: client.create_payment(1.0, texts[0], None, texts[2]),
        lambda: client.create_payment(1.0, *texts, None),
        lambda: client.create_payment(1.0, *texts, return_url=5),
        lambda: client.create_payment(1.0, *texts, unknown=texts[0]),
        lambda: client.query_order(bad),
        lambda: client.query_order(texts[0], texts[1]),
        lambda: client.verify_callback(bad, texts[0]),
        lambda: client.verify_callback(texts[0], texts[1]),
        lambda: client.verify_callback(texts[0], "\udc80"),
    ]
    watched = [client, *texts, bad, bad[0]]
    for call in calls:
        call_quietly(call)
    before = counts(watched)
    for _ in range(REPEAT):
        for call in calls:
            call_quietly(call)
    assert counts(watched) == before
    assert stub.requests == []


def test_verify_callback_releases_everything(client):
    bodies = [fresh(b) for b in ('{"status":"paid","amount":1}', "{", "[]", "")]
    signatures = [hmac.new(b"sk", b.encode(), hashlib.sha256).hexdigest() for b in bodies]
    wrong = fresh("0" * 64)
    results = []
    for body, signature in zip(bodies, signatures):
        call_quietly(lambda: results.append(client.verify_callback(body, signature)))
        call_quietly(lambda: client.verify_callback(body, wrong))
    owners = sys.getrefcount(results[0])
    assert owners == 2  # the list's reference and the argument's
    assert results == [{"status": "paid", "amount": ""}, {}]
    watched = [client, wrong, *bodies, *signatures]
    before = counts(watched)
    for _ in range(REPEAT):
        for body, signature in zip(bodies, signatures):
            call_quietly(lambda: client.verify_callback(body, signature))
            call_quietly(lambda: client.verify_callback(body, wrong))
    assert counts(watched) == before


def test_exceptions_taken_as_answers_are_released(stub, client):
    error = http_error(503, b"busy")

    def respond(request):
        raise error

    stub.respond = respond
    with pytest.raises(RuntimeError, match="^HTTP 503: busy$"):
        client.query_order("A1")
    error.__traceback__ = None
    del respond
    stub.respond = None
    assert sys.getrefcount(error) == 2  # the local name and the argument's


def test_returned_records_own_only_themselves(stub, client):
    stub.answer(200, '{"data":{"order_id":"A","pay_url":"u"}}')
    result = client.create_payment(1.0, "CNY", "acct", "/cb")
    status = client.query_order("A")
    # What getrefcount reports for an object held by one local name alone: 2 up to Python 3.13,
    # 1 from 3.14 on, whose calls borrow their arguments' references.
    alone = object()
    assert sys.getrefcount(result) == sys.getrefcount(alone) and sys.getrefcount(status) == sys.getrefcount(alone)
    assert sys.exc_info() == (None, None, None)


def test_urllib_modules_keep_their_counts(stub, client):
    stub.answer(200, '{"data":{}}')
    modules = [urllib.request, urllib.error, urllib.request.Request]
    client.query_order("A")
    before = counts(modules)
    for _ in range(REPEAT):
        client.query_order("A")
        client.create_payment(1.0, "CNY", "acct", "/cb")
    assert counts(modules) == before
