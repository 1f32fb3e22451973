"""The exchange through urllib.request on paths that a real server cannot produce: a replaced
urlopen, Request and urllib modules."""

import io
import sys
import types
import urllib.error
import urllib.request

import pytest
from service_fixture import StubResponse, StubTransport

OPERATIONS = {
    "create_payment": lambda client: client.create_payment(1, "CNY", "acct", "/cb"),
    "query_order": lambda client: client.query_order("A1"),
}
each_operation = pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())

BODY = b'{"data":{"order_id":"L"}}'


# --- what read() returns -------------------------------------------------------------------

ACCEPTED_BODIES = [
    pytest.param(BODY, id="bytes"),
    pytest.param(list(BODY), id="list of ints"),
    pytest.param(tuple(BODY), id="tuple of ints"),
    pytest.param(bytearray(BODY), id="bytearray"),
    pytest.param(memoryview(BODY).tolist(), id="memoryview items"),
]


@each_operation
@pytest.mark.parametrize("data", ACCEPTED_BODIES)
def test_read_results_accepted(stub, client, operation, data):
    stub.respond = lambda request: StubResponse(200, data)
    assert operation(client).order_id == "L"


class Index:
    def __index__(self):
        return 0x7B


REFUSED_BODIES = [
    pytest.param("{}", TypeError, "Can't extract `str` to `Vec`", id="str"),
    pytest.param([123, 256], OverflowError, "out of range integral type conversion attempted", id="256"),
    pytest.param([-1], OverflowError, "out of range integral type conversion attempted", id="-1"),
    pytest.param([2**70], OverflowError, "out of range integral type conversion attempted", id="huge"),
    pytest.param([-(2**70)], OverflowError, "out of range integral type conversion attempted", id="huge negative"),
    pytest.param(5, TypeError, "'int' object cannot be converted to 'Sequence'", id="int"),
    pytest.param({"a": 1}, TypeError, "'dict' object cannot be converted to 'Sequence'", id="dict"),
    pytest.param(None, TypeError, "'NoneType' object cannot be converted to 'Sequence'", id="None"),
    pytest.param([123, "x"], TypeError, "'str' object cannot be interpreted as an integer", id="str item"),
    pytest.param([1.5], TypeError, "'float' object cannot be interpreted as an integer", id="float item"),
]


@each_operation
@pytest.mark.parametrize("data, error, message", REFUSED_BODIES)
def test_read_results_refused(stub, client, operation, data, error, message):
    stub.respond = lambda request: StubResponse(200, data)
    with pytest.raises(error) as caught:
        operation(client)
    assert type(caught.value) is error
    assert caught.value.args == (message,)


def test_item_with_index_is_an_integer(stub, client):
    stub.respond = lambda request: StubResponse(500, [Index(), 0x7D])
    with pytest.raises(RuntimeError, match=r"^HTTP 500: \{\}$"):
        client.query_order("A1")


# --- what getcode() returns ----------------------------------------------------------------


@each_operation
@pytest.mark.parametrize(
    "code, error",
    [("200", TypeError), (200.0, TypeError), (None, TypeError), (2**64, OverflowError), (-(2**64), OverflowError)],
)
def test_getcode_not_a_status(stub, client, operation, code, error):
    stub.respond = lambda request: StubResponse(code, BODY)
    with pytest.raises(error) as caught:
        operation(client)
    assert type(caught.value) is error


@pytest.mark.parametrize("code, message", [(65536 + 404, "HTTP 404: x"), (-1, "HTTP 65535: x"), (True, "HTTP 1: x")])
def test_status_keeps_the_low_16_bits(stub, client, code, message):
    stub.respond = lambda request: StubResponse(code, b"x")
    with pytest.raises(RuntimeError) as caught:
        client.query_order("A1")
    assert caught.value.args == (message,)


def test_status_200_in_low_bits_is_success(stub, client):
    stub.respond = lambda request: StubResponse(65536 + 200, BODY)
    assert client.query_order("A1").order_id == "L"


# --- HTTPError is an answer ----------------------------------------------------------------


class TeapotError(urllib.error.HTTPError):
    pass


class UnreadableError(urllib.error.HTTPError):
    def read(self, *args):
        raise LookupError("cannot read the error body")


def http_error(cls, code, body=b""):
    return cls("http://service.test/x", code, "message", {}, io.BytesIO(body))


def raising(error):
    def respond(request):
        raise error

    return respond


@each_operation
@pytest.mark.parametrize(
    "cls, code, body, message",
    [
        pytest.param(urllib.error.HTTPError, 404, b'{"detail":"gone"}', 'HTTP 404: {"detail":"gone"}', id="HTTPError"),
        pytest.param(TeapotError, 418, b"teapot", "HTTP 418: teapot", id="subclass"),
        pytest.param(TeapotError, 302, b"", "HTTP 302: ", id="empty body"),
    ],
)
def test_http_error_is_an_answer(stub, client, operation, cls, code, body, message):
    stub.respond = raising(http_error(cls, code, body))
    with pytest.raises(RuntimeError) as caught:
        operation(client)
    assert type(caught.value) is RuntimeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None and caught.value.__context__ is None


def test_http_error_with_status_200_succeeds(stub, client):
    stub.respond = raising(http_error(TeapotError, 200, BODY))
    assert client.create_payment(1, "CNY", "a", "/cb").order_id == "L"


def test_http_error_whose_read_raises(stub, client):
    stub.respond = raising(http_error(UnreadableError, 500))
    with pytest.raises(LookupError, match="cannot read the error body"):
        client.query_order("A1")


def test_http_error_whose_code_is_not_an_integer(stub, client):
    error = http_error(TeapotError, 500)
    error.code = "500"
    stub.respond = raising(error)
    with pytest.raises(TypeError):
        client.query_order("A1")


def test_response_whose_read_raises(stub, client):
    class Response(StubResponse):
        def read(self):
            raise BlockingIOError("read failed")

    stub.respond = lambda request: Response()
    with pytest.raises(BlockingIOError, match="read failed"):
        client.query_order("A1")


class CustomFailure(Exception):
    pass


@each_operation
@pytest.mark.parametrize(
    "error",
    [CustomFailure("custom"), urllib.error.URLError("refused"), TimeoutError("timed out"), KeyboardInterrupt()],
    ids=["custom", "URLError", "timeout", "KeyboardInterrupt"],
)
def test_other_exceptions_pass_as_the_same_object(stub, client, operation, error):
    stub.respond = raising(error)
    with pytest.raises(BaseException) as caught:
        operation(client)
    assert caught.value is error
    assert not isinstance(caught.value, RuntimeError)


# --- how Request and urlopen are called ----------------------------------------------------


class RecordingRequest(urllib.request.Request):
    """Logs its construction and every attribute assignment made after it."""

    log: list = []

    def __init__(self, *args, **kwargs):
        RecordingRequest.log.append(("Request", args, kwargs))
        super().__init__(*args, **kwargs)
        self._built = True

    def __setattr__(self, name, value):
        if getattr(self, "_built", False):
            RecordingRequest.log.append(("set", name, value))
        super().__setattr__(name, value)


@pytest.fixture
def recording_request(monkeypatch):
    RecordingRequest.log = []
    monkeypatch.setattr(urllib.request, "Request", RecordingRequest)
    return RecordingRequest.log


def test_post_request_shape(stub, client, recording_request):
    client.create_payment(1, "CNY", "acct", "/cb")
    (_, args, kwargs), assignment = recording_request
    assert kwargs == {}
    assert len(args) == 2
    url, data = args
    assert (type(url), url) == (str, "http://service.test/alipayment/sponsor/pay/")
    assert type(data) is bytes and data == stub.last.data
    assert assignment == ("set", "method", "POST")
    assert stub.last.method == "POST"


def test_get_request_shape(stub, client, recording_request):
    client.query_order("A1")
    (_, args, kwargs), assignment = recording_request
    assert kwargs == {}
    assert len(args) == 1 and type(args[0]) is str and args[0] == stub.last.url
    assert assignment == ("set", "method", "GET")
    assert stub.last.data is None


def test_request_construction_failure_passes(stub, client, monkeypatch):
    failure = CustomFailure("no request")

    def refuse(*args):
        raise failure

    monkeypatch.setattr(urllib.request, "Request", refuse)
    with pytest.raises(CustomFailure) as caught:
        client.query_order("A1")
    assert caught.value is failure
    assert stub.requests == []


def test_method_assignment_failure_passes(stub, client, monkeypatch):
    class Fixed:
        __slots__ = ("url",)

        def __init__(self, url, data=None):
            self.url = url

    monkeypatch.setattr(urllib.request, "Request", Fixed)
    with pytest.raises(AttributeError):
        client.query_order("A1")
    assert stub.requests == []


def test_urllib_request_is_looked_up_on_every_call(client, monkeypatch):
    first, second = StubTransport(), StubTransport()
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", "http://service.test")
    monkeypatch.setattr(urllib.request, "urlopen", first)
    client.query_order("A1")
    monkeypatch.setattr(urllib.request, "urlopen", second)
    client.query_order("A2")
    assert [len(first.requests), len(second.requests)] == [1, 1]

    # A different module object under the same name is the one used on the next call.
    third = StubTransport()
    replacement = types.ModuleType("urllib.request")
    replacement.Request = urllib.request.Request
    replacement.urlopen = third
    monkeypatch.setitem(sys.modules, "urllib.request", replacement)
    client.query_order("A3")
    assert len(third.requests) == 1 and third.last.url.endswith("&order_id=A3")


def test_missing_urlopen_is_the_attribute_error(client, monkeypatch):
    replacement = types.ModuleType("urllib.request")
    replacement.Request = urllib.request.Request
    monkeypatch.setitem(sys.modules, "urllib.request", replacement)
    with pytest.raises(AttributeError, match="urlopen"):
        client.query_order("A1")


def test_urllib_error_is_imported_only_after_a_failure(stub, client, monkeypatch):
    monkeypatch.setitem(sys.modules, "urllib.error", types.ModuleType("urllib.error"))
    assert client.query_order("A1").order_id == ""
    stub.respond = raising(CustomFailure("first"))
    # The lookup of HTTPError fails: that failure replaces the first exception.
    with pytest.raises(AttributeError, match="HTTPError"):
        client.query_order("A1")


def test_failed_import_of_urllib_error_replaces_the_exception(stub, client, monkeypatch):
    monkeypatch.setitem(sys.modules, "urllib.error", None)
    stub.respond = raising(CustomFailure("first"))
    with pytest.raises(ImportError):
        client.query_order("A1")
