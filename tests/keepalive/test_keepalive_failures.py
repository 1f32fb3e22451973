"""The keep-alive opener under failure: connections the server closed, requests that may or may
not have reached it, broken answers, timeouts, certificates that do not verify, a fork."""

import dataclasses
import errno
import http.client
import os
import select
import signal
import socket
import ssl
import threading
import urllib.error
import urllib.request
import warnings

import pytest
from keepalive_support import OPERATIONS, answer_each, each_operation, route_of
from service_fixture import HANG_UP, Answer



def stall_until(release):
    """An answer that comes when the test releases it (or after 30 s): never, for a client that
    gave up earlier."""

    def stall(request):
        release.wait(30)
        return HANG_UP

    return stall


# --- connections the server closed ----------------------------------------------------------


@each_operation
def test_connection_closed_while_idle_is_replaced(persistent, keep_alive, client, operation):
    persistent.answer_with(lambda request: dataclasses.replace(answer_each(request), close=True))
    operation(client)
    persistent.wait_closed(1)
    # The server's close reaches the client's socket a moment later: wait until it has.
    idle = [connection.sock for connection in keep_alive.idle_connections()]
    assert len(idle) == 1 and select.select(idle, [], [], 30)[0] == idle
    operation(client)
    assert persistent.connections == 2
    assert [request.connection for request in persistent.requests] == [1, 2]


# The server reads the request and closes the connection without answering. Whether the request
# is sent once more: only a query (a GET) on a reused connection, whose answer never began; never
# a payment, never on a new connection.
HANG_UP_CASES = [
    # operation, keep-alive opener, earlier calls on the connection, copies the server reads
    pytest.param("create_payment", False, 0, 1, id="payment, default opener"),
    pytest.param("create_payment", True, 0, 1, id="payment, new connection"),
    pytest.param("create_payment", True, 1, 1, id="payment, pooled connection"),
    pytest.param("query_order", False, 1, 1, id="query, default opener"),
    pytest.param("query_order", True, 0, 1, id="query, new connection"),
    pytest.param("query_order", True, 1, 2, id="query, pooled connection"),
]


@pytest.mark.parametrize("name, keep_alive, earlier_calls, copies", HANG_UP_CASES)
def test_server_that_hangs_up_after_reading_the_request(
    persistent, install, client, name, keep_alive, earlier_calls, copies
):
    """It hangs up every time: the caller gets urllib's usual exception once the server has read
    the request `copies` times, each the very same request."""
    if keep_alive:
        install()
    operation = OPERATIONS[name]
    for _ in range(earlier_calls):
        operation(client)
    persistent.respond = lambda request: HANG_UP
    with pytest.raises(http.client.RemoteDisconnected) as caught:
        operation(client)
    assert type(caught.value) is http.client.RemoteDisconnected
    sent = persistent.requests[earlier_calls:]
    assert len(sent) == copies
    assert {(request.query, request.body) for request in sent} == {(sent[0].query, sent[0].body)}
    persistent.respond = answer_each
    operation(client)
    assert len(persistent.requests) == earlier_calls + copies + 1


def test_query_whose_pooled_connection_hangs_up_once_is_answered(persistent, keep_alive, client):
    client.query_order("Q1")
    persistent.answer_with(lambda request: HANG_UP)
    assert client.query_order("Q1").order_id == "Q1"
    first, again = persistent.requests[1:]
    assert again.query == first.query
    assert [request.connection for request in persistent.requests] == [1, 1, 2]


class FailingAfterTheFirstSend(socket.socket):
    def sendall(self, data, flags=0):
        raise BrokenPipeError("the connection broke while the request was being written")


class ResetWhileAnswering(socket.socket):
    """Takes the request; gives `answer` (the start of an answer), then the reset."""

    answer = b""

    def recv_into(self, buffer, nbytes=0, flags=0):
        given, self.answer = self.answer, b""
        if not given:
            raise ConnectionResetError(errno.ECONNRESET, "the server reset the connection")
        buffer[: len(given)] = given
        return len(given)


def refuses_any_write(pair):
    pair[0].shutdown(socket.SHUT_WR)
    return pair[0]


def accepts_the_first_bytes_only(pair):
    return FailingAfterTheFirstSend(pair[0].family, pair[0].type, fileno=pair[0].detach())


def resets_before_answering(pair):
    return ResetWhileAnswering(pair[0].family, pair[0].type, fileno=pair[0].detach())


def resets_after_the_status_line(pair):
    sock = resets_before_answering(pair)
    sock.answer = b"HTTP/1.1 200 OK\r\n"
    return sock


WRITE_BROKE = (urllib.error.URLError, BrokenPipeError)  # urllib's error, with its reason
RESET = (ConnectionResetError, None)
RESENT = None

# A pooled connection whose socket fails: the request goes once more on a new connection, or the
# caller gets the error.
FAILING_SOCKETS = [
    pytest.param("create_payment", refuses_any_write, RESENT, id="payment, nothing written"),
    pytest.param("query_order", refuses_any_write, RESENT, id="query, nothing written"),
    pytest.param("create_payment", accepts_the_first_bytes_only, WRITE_BROKE, id="payment, partly written"),
    pytest.param("query_order", accepts_the_first_bytes_only, RESENT, id="query, partly written"),
    pytest.param("create_payment", resets_before_answering, RESET, id="payment, reset before the answer"),
    pytest.param("query_order", resets_before_answering, RESENT, id="query, reset before the answer"),
    pytest.param("create_payment", resets_after_the_status_line, RESET, id="payment, reset in the answer"),
    pytest.param("query_order", resets_after_the_status_line, RESET, id="query, reset in the answer"),
]


@pytest.mark.parametrize("name, breaking, error", FAILING_SOCKETS)
def test_pooled_connection_that_fails(persistent, keep_alive, client, name, breaking, error):
    """The pooled connection's socket is swapped for one that fails (and that has nothing to read
    while idle, like a healthy idle connection)."""
    operation = OPERATIONS[name]
    operation(client)
    connection = keep_alive.take(route_of(persistent))
    pair = socket.socketpair()
    original, connection.sock = connection.sock, breaking(pair)
    keep_alive.give_back(route_of(persistent), connection)
    try:
        if error is RESENT:
            operation(client)
        else:
            error_type, reason_type = error
            with pytest.raises(error_type) as caught:
                operation(client)
            assert type(caught.value) is error_type
            assert reason_type is None or type(caught.value.reason) is reason_type
    finally:
        for sock in (original, *pair):
            sock.close()
    resent = error is RESENT
    assert len(persistent.requests) == 1 + resent
    assert persistent.connections == 1 + resent


# --- broken answers -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "broken, error",
    [
        pytest.param(Answer(0, raw=b"NONSENSE\r\n\r\n"), http.client.BadStatusLine, id="no status line"),
        pytest.param(
            Answer(0, raw=b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{}", close=True),
            http.client.IncompleteRead,
            id="body cut short",
        ),
    ],
)
def test_connection_with_a_broken_answer_is_discarded(persistent, either_opener, client, broken, error):
    persistent.answer_with(lambda request: broken)
    with pytest.raises(error) as caught:
        client.query_order("Q1")
    assert type(caught.value) is error
    assert client.query_order("Q1").order_id == "Q1"
    assert persistent.connections == 2


# --- timeouts -------------------------------------------------------------------------------


@each_operation
def test_process_default_timeout_applies_to_a_pooled_connection(persistent, either_opener, client, operation):
    operation(client)  # the connection is made while there is no default timeout
    release = threading.Event()
    persistent.answer_with(stall_until(release))
    previous = socket.getdefaulttimeout()
    socket.setdefaulttimeout(0.2)
    try:
        with pytest.raises(TimeoutError) as caught:
            operation(client)
    finally:
        socket.setdefaulttimeout(previous)
        release.set()
    assert type(caught.value) is TimeoutError


def test_request_timeout_applies_to_a_pooled_connection(persistent, either_opener):
    url = persistent.url + "/alipayment/sponsor/order-status/"
    with urllib.request.urlopen(url) as response:
        response.read()
    release = threading.Event()
    persistent.answer_with(stall_until(release))
    try:
        with pytest.raises(TimeoutError):
            urllib.request.urlopen(url, timeout=0.2)
    finally:
        release.set()


@pytest.mark.parametrize(
    "timeout, default, expected",
    [
        pytest.param(5.0, None, 5.0, id="given"),
        pytest.param(None, 7.0, None, id="given as None"),
        pytest.param(..., 7.0, 7.0, id="process default"),
        pytest.param(..., None, None, id="no timeout"),
    ],
)
def test_each_request_sets_the_timeout_of_the_connection_it_reuses(persistent, keep_alive, timeout, default, expected):
    url = persistent.url + "/alipayment/sponsor/order-status/"
    urllib.request.urlopen(url, timeout=3.0).read()
    previous = socket.getdefaulttimeout()
    socket.setdefaulttimeout(default)
    try:
        if timeout is ...:
            urllib.request.urlopen(url).read()
        else:
            urllib.request.urlopen(url, timeout=timeout).read()
    finally:
        socket.setdefaulttimeout(previous)
    connection = keep_alive.take(route_of(persistent))
    assert persistent.connections == 1
    assert connection.sock.gettimeout() == expected
    connection.close()


# --- certificates ---------------------------------------------------------------------------


@pytest.mark.parametrize("keep_alive", [False, True], ids=["default opener", "keep-alive opener"])
@pytest.mark.parametrize(
    "names, trusted, message",
    [
        pytest.param(("127.0.0.1",), False, "unable to get local issuer certificate", id="unknown issuer"),
        pytest.param(("localhost",), True, "IP address mismatch", id="other host"),
    ],
)
def test_certificate_that_does_not_verify(
    start_service, install, ca_file, monkeypatch, client, keep_alive, names, trusted, message
):
    server = start_service("https", names=names)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url)
    monkeypatch.delenv("SSL_CERT_DIR", raising=False)
    if trusted:
        monkeypatch.setenv("SSL_CERT_FILE", ca_file)
    else:
        monkeypatch.delenv("SSL_CERT_FILE", raising=False)
    urllib.request.install_opener(None)
    if keep_alive:
        install()
    for _ in range(2):
        with pytest.raises(urllib.error.URLError) as caught:
            client.query_order("Q1")
        assert type(caught.value.reason) is ssl.SSLCertVerificationError
        assert message in caught.value.reason.verify_message
    assert server.requests == []


# --- fork -----------------------------------------------------------------------------------


def test_forked_child_never_uses_the_parents_connections(persistent, keep_alive, client):
    client.query_order("Q1")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() while the server's threads run
        pid = os.fork()
    if pid == 0:
        code = 1
        try:
            signal.alarm(60)
            code = 0 if OPERATIONS["query_order"](client).order_id == "Q1" else 2
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    client.query_order("Q1")
    assert [request.connection for request in persistent.requests] == [1, 2, 1]
