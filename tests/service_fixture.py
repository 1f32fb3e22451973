"""A scripted stand-in for the payment service, and a stub of urllib.request.urlopen.

`ServiceServer` is a real HTTP (or HTTPS) server on 127.0.0.1 that records every request
exactly as it arrived and answers from a queue of scripted answers or from a function. It closes
each connection after one answer, as an HTTP/1.0 server does, or keeps it open for the next
request (`keep_alive=True`), and counts the connections it accepted and closed.
`StubTransport` replaces `urlopen` for failure paths that no real server can produce.
"""

from __future__ import annotations

import collections
import dataclasses
import email.message
import http.server
import socket
import socketserver
import ssl
import threading
import urllib.parse
from typing import Any, Callable, Self, Union


@dataclasses.dataclass(frozen=True)
class Recorded:
    method: str
    path: str  # the request target before "?"
    query: str  # the raw query string, not decoded ("" when there is none)
    headers: email.message.Message
    body: bytes
    connection: int = 0  # the number of the connection it came on, counted from 1

    def form(self) -> list[tuple[str, str]]:
        """The body read as a form, in field order."""
        return urllib.parse.parse_qsl(self.body.decode("ascii"), keep_blank_values=True, strict_parsing=True)


@dataclasses.dataclass(frozen=True)
class Answer:
    status: int
    body: bytes = b""
    content_type: str = "application/json"
    raw: bytes | None = None  # sent as it is instead of a response made of the fields above
    close: bool = False  # close the connection after this answer, without announcing it
    # With `close`: runs with the connection once the answer is sent, to hold the close back.
    before_close: Callable[[socket.socket], None] | None = None


# Reads the request and closes the connection without answering.
HANG_UP = Answer(0, raw=b"", close=True)


AnswerSource = Union[Answer, Callable[[Recorded], Answer]]


def as_bytes(body: Union[str, bytes]) -> bytes:
    return body.encode("utf-8") if isinstance(body, str) else body


class LocalServer:
    """A threaded server on 127.0.0.1 that serves on a thread of its own from start() to stop()."""

    def __init__(self, server: socketserver.BaseServer, name: str):
        self._server = server
        self._thread = threading.Thread(
            target=server.serve_forever, kwargs={"poll_interval": 0.02}, name=name, daemon=True
        )

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    def start(self) -> Self:
        self._thread.start()
        return self

    def stop(self) -> None:
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)


class ServiceServer(LocalServer):
    """Answers each request with the next queued answer, or with `respond(request)` once the
    queue is empty. Without either it answers 599, so a test that forgot to script an answer
    fails loudly."""

    def __init__(self, tls: ssl.SSLContext | None = None, keep_alive: bool = False):
        self.requests: list[Recorded] = []
        self._answers: collections.deque[AnswerSource] = collections.deque()
        self.respond: Callable[[Recorded], Answer] | None = None
        self.keep_alive = keep_alive
        self.connections = 0  # accepted
        self.closed = 0
        self._open: set[socket.socket] = set()
        self._lock = threading.Lock()
        self._connections_changed = threading.Condition(self._lock)
        super().__init__(_Server(self, ("127.0.0.1", 0), _handler_for(self)), "service-fixture")
        if tls is not None:
            self._server.socket = tls.wrap_socket(self._server.socket, server_side=True)
        self.scheme = "https" if tls is not None else "http"

    @property
    def url(self) -> str:
        return f"{self.scheme}://127.0.0.1:{self.port}"

    def stop(self) -> None:
        super().stop()
        with self._lock:
            still_open = list(self._open)
        for connection in still_open:  # ends the threads waiting for a next request
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def wait_closed(self, count: int) -> None:
        """Waits until the server has closed `count` connections in all."""
        with self._connections_changed:
            assert self._connections_changed.wait_for(lambda: self.closed >= count, timeout=30), self.closed

    def answer(self, status: int, body: Union[str, bytes] = b"", content_type: str = "application/json") -> None:
        """Queues one answer."""
        with self._lock:
            self._answers.append(Answer(status, as_bytes(body), content_type))

    def answer_with(self, respond: Callable[[Recorded], Answer]) -> None:
        with self._lock:
            self._answers.append(respond)

    @property
    def last(self) -> Recorded:
        assert self.requests, "the service received no request"
        return self.requests[-1]

    def _accepted(self, connection: socket.socket) -> int:
        with self._lock:
            self.connections += 1
            self._open.add(connection)
            return self.connections

    def _closed(self, connection: socket.socket) -> None:
        with self._connections_changed:
            self.closed += 1
            self._open.discard(connection)
            self._connections_changed.notify_all()

    def _record_and_answer(self, recorded: Recorded) -> Answer:
        with self._lock:
            self.requests.append(recorded)
            source: AnswerSource | None = self._answers.popleft() if self._answers else self.respond
        if source is None:
            return Answer(599, b"no scripted answer", "text/plain")
        return source(recorded) if callable(source) else source


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, service: ServiceServer, *args: Any) -> None:
        self.service = service
        super().__init__(*args)

    def shutdown_request(self, request: Any) -> None:
        super().shutdown_request(request)
        self.service._closed(request)


def _handler_for(service: ServiceServer) -> type[http.server.BaseHTTPRequestHandler]:
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1" if service.keep_alive else "HTTP/1.0"
        # An answer is two writes (head and body): without this, Nagle's algorithm holds the body
        # back until the client acknowledges the head, which a persistent connection does late.
        disable_nagle_algorithm = service.keep_alive

        def setup(self) -> None:
            super().setup()
            self.number = service._accepted(self.connection)

        def _handle(self) -> None:
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b""
            path, _, query = self.path.partition("?")
            recorded = Recorded(self.command, path, query, self.headers, body, self.number)
            answer = service._record_and_answer(recorded)
            if answer.close:
                self.close_connection = True
            self._send(answer)
            if answer.before_close is not None:
                answer.before_close(self.connection)

        def _send(self, answer: Answer) -> None:
            if answer.raw is not None:
                self.wfile.write(answer.raw)
                return
            self.send_response(answer.status)
            self.send_header("Content-Type", answer.content_type)
            self.send_header("Content-Length", str(len(answer.body)))
            if not service.keep_alive:
                self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(answer.body)

        do_GET = do_POST = do_PUT = do_DELETE = _handle

        def log_message(self, format: str, *args: object) -> None:
            pass

    return Handler


# --- urlopen stub -------------------------------------------------------------------------


@dataclasses.dataclass
class StubResponse:
    """What urlopen returns: `code` comes back from getcode(), `data` from read()."""

    code: object = 200
    data: object = b'{"data":{}}'

    def getcode(self) -> object:
        return self.code

    def read(self) -> object:
        return self.data


@dataclasses.dataclass(frozen=True)
class SeenRequest:
    url: str
    method: str | None
    data: bytes | None
    headers: dict[str, str]


class StubTransport:
    """A replacement for urllib.request.urlopen. Each call records the request it was given
    and answers with `respond(request)`, which may return a response object or raise."""

    def __init__(self) -> None:
        self.requests: list[SeenRequest] = []
        self.respond: Callable[[SeenRequest], object] = lambda request: StubResponse()

    def answer(self, status: int = 200, body: Union[str, bytes] = b'{"data":{}}') -> None:
        data = as_bytes(body)
        self.respond = lambda request: StubResponse(status, data)

    def __call__(self, request: object, *extra: object, **keywords: object) -> object:
        assert not extra and not keywords, f"urlopen called with more than the request: {extra!r} {keywords!r}"
        seen = SeenRequest(
            request.full_url,  # type: ignore[attr-defined]
            request.method,  # type: ignore[attr-defined]
            request.data,  # type: ignore[attr-defined]
            dict(request.header_items()),  # type: ignore[attr-defined]
        )
        self.requests.append(seen)
        return self.respond(seen)

    @property
    def last(self) -> SeenRequest:
        assert self.requests, "urlopen was not called"
        return self.requests[-1]

    def form(self) -> dict[str, str]:
        assert self.last.data is not None
        return dict(urllib.parse.parse_qsl(self.last.data.decode("ascii"), keep_blank_values=True))
