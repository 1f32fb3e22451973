"""Byte-exact requests as the client module builds them, and callback receivers."""

from __future__ import annotations

import hashlib
import hmac
import itertools
import json
import os
import re
import secrets
import select
import socket
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from collections.abc import Sequence
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FORM_ORDER = ("community_key", "sponsor_key", "timestamp", "nonce", "amount", "currency",
              "recipient_account", "user_notify_url", "pay_mode", "return_url")

UNUSED_NOTIFY_URL = "http://127.0.0.1:9/callback"

PACKAGE_ROOT = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "python")


def with_the_package() -> dict[str, str]:
    """The environment for a child process that imports the sandbox package from this tree."""
    return dict(os.environ, PYTHONPATH=os.pathsep.join(
        [PACKAGE_ROOT] + [p for p in [os.environ.get("PYTHONPATH")] if p]))


def quote(value: str) -> str:
    return urllib.parse.quote(value, safe="-._~")


def new_nonce() -> str:
    return secrets.token_hex(16)


def form_body(fields: dict[str, str]) -> str:
    """Fields in the client's order; timestamp and nonce are not encoded, an empty return_url is left out."""
    parts = []
    for name in FORM_ORDER:
        if name not in fields:
            continue
        value = fields[name]
        if name == "return_url" and not value:
            continue
        parts.append(f"{name}={value if name in ('timestamp', 'nonce') else quote(value)}")
    return "&".join(parts)


class Answer:
    def __init__(self, status: int, headers, body: bytes) -> None:
        self.status = status
        self.headers = headers
        self.body = body

    @property
    def json(self):
        return json.loads(self.body)

    @property
    def data(self):
        assert self.status == 200, (self.status, self.body)
        return self.json["data"]

    @property
    def detail(self) -> str:
        assert 400 <= self.status < 500, (self.status, self.body)
        return self.json["detail"]


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


_opener = urllib.request.build_opener(_NoRedirect)


def exchange(url: str, method: str = "GET", data: bytes | None = None,
             headers: dict[str, str] | None = None) -> Answer:
    """One request; error statuses and redirects are answers, as the client takes them."""
    request = urllib.request.Request(url, data=data, method=method, headers=headers or {})
    try:
        with _opener.open(request, timeout=10) as response:
            return Answer(response.status, response.headers, response.read())
    except urllib.error.HTTPError as error:
        with error:
            return Answer(error.code, error.headers, error.read())


def raw_exchange(base_url: str, request: bytes) -> bytes:
    """Sends bytes as they are and returns everything the server answers before closing."""
    host, port = base_url.removeprefix("http://").rsplit(":", 1)
    with socket.create_connection((host, int(port)), timeout=10) as connection:
        connection.sendall(request)
        connection.shutdown(socket.SHUT_WR)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
    return answer


class Merchant:
    """Speaks to the sandbox as the client module does, with one merchant's keys."""

    def __init__(self, base_url: str, community_key: str, sponsor_key: str) -> None:
        self.base_url = base_url
        self.community_key = community_key
        self.sponsor_key = sponsor_key

    def payment_fields(self, **overrides: str | None) -> dict[str, str]:
        fields = {"community_key": self.community_key, "sponsor_key": self.sponsor_key,
                  "timestamp": str(int(time.time())), "nonce": new_nonce(), "amount": "10",
                  "currency": "CNY", "recipient_account": "payee@example.com",
                  "user_notify_url": UNUSED_NOTIFY_URL, "pay_mode": "split"}
        for name, value in overrides.items():
            if value is None:
                fields.pop(name, None)
            else:
                fields[name] = value
        return fields

    def post_form(self, body: str) -> Answer:
        # urllib adds the form content type itself, as it does for the client.
        return exchange(self.base_url + "/alipayment/sponsor/pay/", "POST", body.encode("utf-8"))

    def pay(self, **overrides: str | None) -> Answer:
        return self.post_form(form_body(self.payment_fields(**overrides)))

    def status_url(self, order_id: str, *, timestamp: str | None = None, nonce: str | None = None,
                   signature: str | None = None, sponsor_key: str | None = None) -> str:
        timestamp = timestamp if timestamp is not None else str(int(time.time()))
        nonce = nonce if nonce is not None else new_nonce()
        if signature is None:
            message = self.community_key + timestamp + nonce + order_id
            key = self.sponsor_key if sponsor_key is None else sponsor_key
            signature = hmac.new(key.encode(), message.encode(), hashlib.sha256).hexdigest()
        return (f"{self.base_url}/alipayment/sponsor/order-status/"
                f"?community_key={quote(self.community_key)}&timestamp={timestamp}"
                f"&nonce={nonce}&signature={signature}&order_id={quote(order_id)}")

    def query(self, order_id: str, **options: str | None) -> Answer:
        return exchange(self.status_url(order_id, **options))

    def new_order(self, **overrides: str | None) -> str:
        return self.pay(**overrides).data["order_id"]


def control(base_url: str, order_id: str, action: str, options: dict | None = None) -> Answer:
    body = json.dumps(options).encode() if options is not None else b""
    return exchange(f"{base_url}/sandbox/orders/{order_id}/{action}", "POST", body,
                    {"Content-Type": "application/json"})


def record(base_url: str, order_id: str) -> dict:
    return exchange(f"{base_url}/sandbox/orders/{order_id}").data


class CallbackReceiver:
    """A merchant's notify endpoint on 127.0.0.1 that keeps every request it gets.

    It answers each request with the next of `answer_statuses` (the last one once they
    run out), and, when `gate` is given, only once the test has set it.
    """

    def __init__(self, answer_status: int = 200, *, answer_statuses: Sequence[int] = (),
                 gate: threading.Event | None = None) -> None:
        self.received: list[tuple[dict[str, str], bytes, str]] = []
        self.arrived = threading.Semaphore(0)
        statuses = list(answer_statuses) or [answer_status]
        receiver = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self) -> None:
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                receiver.received.append((dict(self.headers), body, self.path))
                status = statuses.pop(0) if len(statuses) > 1 else statuses[0]
                receiver.arrived.release()
                if gate is not None:
                    gate.wait(10)
                self.send_response(status)
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"ok")

            def log_message(self, *args) -> None:
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self._server.server_address[1]}/payments/callback"
        self._thread = threading.Thread(target=self._server.serve_forever, args=(0.05,), daemon=True)

    def __enter__(self) -> "CallbackReceiver":
        self._thread.start()
        return self

    def __exit__(self, *exc_info) -> None:
        self._server.shutdown()
        self._thread.join()
        self._server.server_close()


class RawReceiver:
    """A notify endpoint on 127.0.0.1 that answers every request with raw bytes.

    It reads each request whole, then sends `answer` and closes the connection, or, when
    `trickle` is given, sends `answer` and then one more byte every `trickle` seconds for
    as long as the sandbox keeps the connection open. `bodies` keeps the body of every
    request read, `open` counts the connections still open, `cut_off` those the sandbox
    closed first.
    """

    def __init__(self, answer: bytes, *, trickle: float | None = None) -> None:
        self.answer = answer
        self.trickle = trickle
        self.bodies: list[bytes] = []
        self.open = self.cut_off = 0
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._connections: list[socket.socket] = []
        self.url = f"http://127.0.0.1:{self._listener.getsockname()[1]}/payments/callback"
        self._threads = [threading.Thread(target=self._accept, daemon=True)]

    def __enter__(self) -> "RawReceiver":
        self._threads[0].start()
        return self

    def __exit__(self, *exc_info) -> None:
        self._stopping.set()
        self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accept() under way
        self._listener.close()
        with self._lock:
            for connection in self._connections:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        for thread in list(self._threads):
            thread.join(10)

    def _accept(self) -> None:
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                self._connections.append(connection)
                self.open += 1
            thread = threading.Thread(target=self._serve, args=(connection,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, connection: socket.socket) -> None:
        with connection:
            try:
                body = self._read_request(connection)
                with self._lock:
                    self.bodies.append(body)
                connection.sendall(self.answer)
                if self.trickle is not None:
                    self._trickle(connection)
            except OSError:
                pass
            finally:
                with self._lock:
                    self.open -= 1

    @property
    def requests(self) -> int:
        return len(self.bodies)

    def _read_request(self, connection: socket.socket) -> bytes:
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = connection.recv(65536)
            if not chunk:
                raise ConnectionResetError("the request ended early")
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        length = int(re.search(rb"(?im)^content-length:\s*(\d+)", head)[1])
        while len(body) < length:
            body += connection.recv(65536)
        return body

    def _trickle(self, connection: socket.socket) -> None:
        for byte in itertools.cycle(b"abcdefghij"):
            # The sandbox's end closing makes the connection readable (at its end).
            if select.select([connection], [], [], self.trickle)[0] and not connection.recv(1):
                with self._lock:
                    self.cut_off += 1
                return
            if self._stopping.is_set():
                return
            connection.sendall(bytes([byte]))


class SlowClient:
    """A connection that sends `whole` at once, then `trickled` a byte every `interval` s,
    until the sandbox answers or closes it; `answer` is what the sandbox sent."""

    def __init__(self, address, whole: bytes, trickled: bytes, interval: float = 0.2) -> None:
        self.answer = b""
        self._connection = socket.create_connection(address, timeout=30)
        self._parts = whole, trickled
        self._interval = interval
        self._thread = threading.Thread(target=self._send, daemon=True)
        self._thread.start()

    def _send(self) -> None:
        whole, trickled = self._parts
        try:
            self._connection.sendall(whole)
            for byte in trickled:
                if select.select([self._connection], [], [], self._interval)[0]:
                    break  # answered or closed
                self._connection.sendall(bytes([byte]))
            while chunk := self._connection.recv(65536):
                self.answer += chunk
        except OSError:
            pass

    def wait_for_close(self) -> None:
        """Waits until the sandbox has answered and closed the connection."""
        self._thread.join(30)
        assert not self._thread.is_alive(), "the sandbox kept the connection open"

    def close(self) -> None:
        self._connection.close()
        self._thread.join(30)


def wait_until(condition, timeout: float = 10.0) -> None:
    """Polls a condition on the sandbox's own state until it holds; fails after `timeout` s."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "condition not reached"
        time.sleep(0.005)
