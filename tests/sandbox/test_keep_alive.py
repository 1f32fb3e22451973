"""Persistent HTTP/1.1 connections: several requests on one connection, closed when asked,
when idle too long, or when another connection waits for a slot."""

import http.client
import json
import socket
import threading

from vemrat_pay_sandbox import Sandbox
from wire import form_body, wait_until


def read_answer(stream):
    """One HTTP answer from a socket file, leaving what follows it unread: (status, headers, body)."""
    status_line = stream.readline()
    assert status_line.startswith(b"HTTP/1.1 "), status_line
    headers = http.client.parse_headers(stream)
    return int(status_line.split()[1]), headers, stream.read(int(headers["Content-Length"]))


def test_one_connection_carries_the_merchants_requests(sandbox, merchant):
    connection = http.client.HTTPConnection(*sandbox.server.server_address[:2], timeout=10)
    fields = merchant.payment_fields()
    connection.request("POST", "/alipayment/sponsor/pay/", form_body(fields),
                       {"Content-Type": "application/x-www-form-urlencoded"})
    created = connection.getresponse()
    order_id = json.loads(created.read())["data"]["order_id"]
    status_url = merchant.status_url(order_id).removeprefix(sandbox.base_url)
    connection.request("GET", status_url)
    queried = connection.getresponse()
    assert json.loads(queried.read())["data"]["order_id"] == order_id
    connection.request("GET", "/sandbox/")
    page = connection.getresponse()
    assert (created.status, queried.status, page.status) == (200, 200, 200)
    assert order_id in page.read().decode()
    connection.close()
    assert sandbox.server.connections_accepted == 1


def test_an_unread_body_does_not_spill_into_the_next_request(sandbox):
    with socket.create_connection(sandbox.server.server_address[:2], timeout=10) as connection:
        # A GET with a body the route never reads, then a second request behind it.
        connection.sendall(b"GET /alipayment/sponsor/pay/ HTTP/1.1\r\nHost: localhost\r\n"
                           b"Content-Length: 11\r\n\r\nGET / HTTP/"
                           b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\n\r\n")
        stream = connection.makefile("rb")
        first, second = read_answer(stream), read_answer(stream)
    assert (first[0], json.loads(first[2])) == (405, {"detail": "method not allowed: use POST"})
    assert (second[0], json.loads(second[2])) == (200, {"data": []})
    assert sandbox.server.connections_accepted == 1


def test_the_connection_closes_when_the_client_asks_or_speaks_http_1_0(sandbox):
    for request in (b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                    b"GET /sandbox/orders HTTP/1.0\r\n\r\n"):
        with socket.create_connection(sandbox.server.server_address[:2], timeout=10) as connection:
            connection.sendall(request)
            stream = connection.makefile("rb")
            status, headers, _ = read_answer(stream)
            assert (status, headers["Connection"]) == (200, "close")
            assert stream.read() == b""  # closed by the server


def test_an_idle_connection_is_closed_after_the_idle_timeout():
    with Sandbox({"ck": "sk"}, idle_timeout=0.2) as sandbox:
        with socket.create_connection(sandbox.server.server_address[:2], timeout=10) as connection:
            connection.sendall(b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\n\r\n")
            stream = connection.makefile("rb")
            assert read_answer(stream)[0] == 200
            # Blocks until the server gives up on the silent connection.
            assert stream.read() == b""


def test_a_kept_connection_is_given_up_when_another_waits_for_its_slot():
    with Sandbox({"ck": "sk"}, max_connections=1) as sandbox:
        address = sandbox.server.server_address[:2]
        first = socket.create_connection(address, timeout=10)
        second = socket.create_connection(address, timeout=10)
        try:
            second.sendall(b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\n\r\n")
            first_stream = first.makefile("rb")
            wait_until(lambda: sandbox.server.waiting == 1)
            # The first connection holds the slot; its answer closes it since the second waits.
            first.sendall(b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\n\r\n")
            status, headers, _ = read_answer(first_stream)
            assert (status, headers["Connection"]) == (200, "close")
            assert read_answer(second.makefile("rb"))[0] == 200
        finally:
            first.close()
            second.close()


def handler_threads():
    return [thread for thread in threading.enumerate()
            if thread.name.endswith("(process_request_thread)")]


def test_stopping_the_sandbox_closes_its_connections_and_joins_their_threads():
    sandbox = Sandbox({"ck": "sk"}).start()
    with socket.create_connection(sandbox.server.server_address[:2], timeout=10) as connection:
        connection.sendall(b"GET /sandbox/orders HTTP/1.1\r\nHost: localhost\r\n\r\n")
        stream = connection.makefile("rb")
        assert read_answer(stream)[0] == 200
        assert handler_threads()
        sandbox.stop()
        # Nothing of the sandbox runs on: an interpreter exiting now leaves no thread behind.
        assert handler_threads() == []
        assert stream.read() == b""


def test_answers_on_a_kept_connection_are_not_held_back_by_nagles_algorithm(sandbox):
    # An answer is written as head then body; with Nagle's algorithm on, the body of every answer
    # on a kept connection would wait for the client's delayed acknowledgement of the head.
    connection = http.client.HTTPConnection(*sandbox.server.server_address[:2], timeout=10)
    connection.request("GET", "/sandbox/orders")
    connection.getresponse().read()
    served = list(sandbox.server._open)
    assert served, "the kept connection is open on the server's side"
    assert all(s.getsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY) for s in served)
    connection.close()
