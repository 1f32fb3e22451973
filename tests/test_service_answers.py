"""How both operations treat the service's answers: the envelope failures, the answers that
succeed with defaults, network failures and one round trip over HTTPS."""

import json
import os
import socket
import ssl
import subprocess
import sys
import urllib.error

import pytest

OPERATIONS = {
    "create_payment": lambda client: client.create_payment(1, "CNY", "acct", "/cb"),
    "query_order": lambda client: client.query_order("A1"),
}

EOF_VALUE = "Invalid JSON: EOF while parsing a value at line 1 column 0 | body: "

# (status, body as sent, message of the RuntimeError)
FAILURES = [
    pytest.param(201, b'{"data":{"order_id":"A"}}', 'HTTP 201: {"data":{"order_id":"A"}}', id="201 is not success"),
    pytest.param(204, b"", "HTTP 204: ", id="204 without a body"),
    pytest.param(404, b'{"detail":"Not found"}', 'HTTP 404: {"detail":"Not found"}', id="404 body is not parsed"),
    pytest.param(500, b"Internal Server Error", "HTTP 500: Internal Server Error", id="500"),
    pytest.param(503, b"\x66\xff\x6f", "HTTP 503: f\ufffdo", id="invalid UTF-8 replaced"),
    pytest.param(500, b"ab\xe2\x82", "HTTP 500: ab\ufffd", id="truncated sequence replaced once"),
    pytest.param(200, b"", EOF_VALUE, id="empty body"),
    pytest.param(200, b" \t\r\n", "Invalid JSON: EOF while parsing a value at line 2 column 0 | body:  \t\r\n",
                 id="only whitespace"),
    pytest.param(200, b'{"data":{}} x', 'Invalid JSON: trailing characters at line 1 column 13 | body: {"data":{}} x',
                 id="trailing characters"),
    pytest.param(200, b'{"data":"x\ny"}',
                 'Invalid JSON: control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0'
                 ' | body: {"data":"x\ny"}', id="raw line feed in a string"),
    pytest.param(200, b"[1,]", "Invalid JSON: trailing comma at line 1 column 4 | body: [1,]", id="trailing comma"),
    pytest.param(200, b"nul", "Invalid JSON: EOF while parsing a value at line 1 column 3 | body: nul", id="nul"),
    pytest.param(200, b"\x66\xff\x6f", "Invalid JSON: expected ident at line 1 column 2 | body: f\ufffdo",
                 id="invalid UTF-8 parsed after replacement"),
    pytest.param(200, b'{"detail":"Order is closed","data":{"order_id":"A"}}', "Order is closed",
                 id="string detail beside data"),
    pytest.param(200, b'{"detail":""}', "", id="empty detail"),
    pytest.param(200, b'{"detail":"\\u00e9 \\"x\\""}', 'é "x"', id="detail escapes decoded"),
    pytest.param(200, b"{}", "Missing 'data' in response: {}", id="no data"),
    pytest.param(200, b'{"detail":null}', "Missing 'data' in response: {\"detail\":null}", id="null detail, no data"),
    pytest.param(200, b"[1]", "Missing 'data' in response: [1]", id="top-level array"),
    pytest.param(200, b"null", "Missing 'data' in response: null", id="top-level null"),
    pytest.param(200, b' {"Data" : 1} ', "Missing 'data' in response:  {\"Data\" : 1} ", id="names are case-sensitive"),
]


@pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())
@pytest.mark.parametrize("status, body, message", FAILURES)
def test_envelope_failures(served, client, operation, status, body, message):
    served.answer(status, body)
    with pytest.raises(RuntimeError) as caught:
        operation(client)
    assert type(caught.value) is RuntimeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None
    assert len(served.requests) == 1


# (body of a 200 answer, order_id the result then carries)
SUCCESSES = [
    pytest.param(b'{"detail":["x"],"data":{"order_id":"A"}}', "A", id="non-string detail ignored"),
    pytest.param(b'{"detail":7,"data":{"order_id":"A"}}', "A", id="numeric detail ignored"),
    pytest.param(b'{"data":null}', "", id="data null"),
    pytest.param(b'{"data":"text"}', "", id="data a string"),
    pytest.param(b'{"data":[{"order_id":"A"}]}', "", id="data an array"),
    pytest.param(b'{"data":{"order_id":"A"},"data":null}', "", id="repeated data, later null wins"),
    pytest.param(b'{"data":{"k":1},"data":{"order_id":"B"}}', "B", id="repeated data, later object wins"),
    pytest.param(b'{"data":{"order_id":"A","order_id":"C"}}', "C", id="repeated member, last wins"),
    pytest.param(b'{"data":{"order_id":123}}', "", id="numeric order_id"),
    pytest.param(b'{"data":{"order_id":null}}', "", id="null order_id"),
    pytest.param(b' \t\r\n{"data":{"order_id":"W"}}\n\r\t ', "W", id="whitespace around the value"),
    pytest.param('{"data":{"order_id":"订单\U0001f600"}}'.encode(), "订单\U0001f600", id="non-ASCII"),
    pytest.param(b'{"data":{"order_id":"\\ud83d\\ude00"}}', "\U0001f600", id="surrogate pair escape"),
]


@pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())
@pytest.mark.parametrize("body, order_id", SUCCESSES)
def test_answers_that_succeed(served, client, operation, body, order_id):
    served.answer(200, body)
    assert operation(client).order_id == order_id


def test_payment_result_fields(served, client):
    served.answer(200, b'{"data":{"order_id":"A1","pay_url":"https://pay.test/\xc3\xa9?a=1&b=2","other":1}}')
    result = client.create_payment(1, "CNY", "acct", "/cb")
    assert (result.order_id, result.pay_url) == ("A1", "https://pay.test/é?a=1&b=2")


def closed_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())
def test_connection_refused_is_urllibs_own_error(client, monkeypatch, operation):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", f"http://127.0.0.1:{closed_port()}")
    with pytest.raises(urllib.error.URLError) as caught:
        operation(client)
    assert type(caught.value) is urllib.error.URLError
    assert not isinstance(caught.value, RuntimeError)
    assert isinstance(caught.value.reason, ConnectionRefusedError)


HTTPS_CLIENT = """
import json, vemrat_pay
result = vemrat_pay.Client("ck", "sk").create_payment(10.0, "CNY", "acct", "/cb")
print(json.dumps([result.order_id, result.pay_url]))
"""


def test_untrusted_certificate_is_refused(tls_service, client, monkeypatch):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", tls_service.url)
    with pytest.raises(urllib.error.URLError) as caught:
        client.query_order("A1")
    assert isinstance(caught.value.reason, ssl.SSLCertVerificationError)
    assert tls_service.requests == []


def test_https_round_trip(tls_service):
    # OpenSSL reads SSL_CERT_FILE when the process first loads its default paths and not
    # again, so the client runs in a process of its own with the variable set from the start.
    tls_service.answer(200, '{"data":{"order_id":"T1","pay_url":"https://pay.test/T1"}}')
    environment = dict(os.environ, SSL_CERT_FILE=tls_service.ca_file, VEMRAT_PAY_BASE_URL=tls_service.url)
    environment.pop("SSL_CERT_DIR", None)
    finished = subprocess.run(
        [sys.executable, "-c", HTTPS_CLIENT], env=environment, capture_output=True, text=True, timeout=60
    )
    assert finished.returncode == 0, finished.stderr
    assert json.loads(finished.stdout) == ["T1", "https://pay.test/T1"]
    request = tls_service.last
    assert (request.method, request.path) == ("POST", "/alipayment/sponsor/pay/")
    assert b"&amount=10&currency=CNY&" in request.body
