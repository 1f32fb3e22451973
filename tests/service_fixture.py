"""A scripted stand-in for the payment service, and a stub of urllib.request.urlopen.

`ServiceServer` is a real HTTP (or HTTPS) server on 127.0.0.1 that records every request
exactly as it arrived and answers from a queue of scripted answers or from a function.
`StubTransport` replaces `urlopen` for failure paths that no real server can produce.
"""

from __future__ import annotations

import collections
import dataclasses
import email.message
import http.server
import ssl
import threading
import urllib.parse
from typing import Callable, Union


@dataclasses.dataclass(frozen=True)
class Recorded:
    method: str
    path: str  # the request target before "?"
    query: str  # the raw query string, not decoded ("" when there is none)
    headers: email.message.Message
    body: bytes

    def form(self) -> list[tuple[str, str]]:
        """The body read as a form, in field order."""
        return urllib.parse.parse_qsl(self.body.decode("ascii"), keep_blank_values=True, strict_parsing=True)


@dataclasses.dataclass(frozen=True)
class Answer:
    status: int
    body: bytes = b""
    content_type: str = "application/json"


AnswerSource = Union[Answer, Callable[[Recorded], Answer]]


def as_bytes(body: Union[str, bytes]) -> bytes:
    return body.encode("utf-8") if isinstance(body, str) else body


class ServiceServer:
    """Answers each request with the next queued answer, or with `respond(request)` once the
    queue is empty. Without either it answers 599, so a test that forgot to script an answer
    fails loudly."""

    def __init__(self, tls: ssl.SSLContext | None = None):
        self.requests: list[Recorded] = []
        self._answers: collections.deque[AnswerSource] = collections.deque()
        self.respond: Callable[[Recorded], Answer] | None = None
        self._lock = threading.Lock()
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _handler_for(self))
        self._server.daemon_threads = True
        if tls is not None:
            self._server.socket = tls.wrap_socket(self._server.socket, server_side=True)
        self.scheme = "https" if tls is not None else "http"
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.02}, name="service-fixture", daemon=True
        )

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def url(self) -> str:
        return f"{self.scheme}://127.0.0.1:{self.port}"

    def start(self) -> "ServiceServer":
        self._thread.start()
        return self

    def stop(self) -> None:
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

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

    def _record_and_answer(self, recorded: Recorded) -> Answer:
        with self._lock:
            self.requests.append(recorded)
            source: AnswerSource | None = self._answers.popleft() if self._answers else self.respond
        if source is None:
            return Answer(599, b"no scripted answer", "text/plain")
        return source(recorded) if callable(source) else source


def _handler_for(service: ServiceServer) -> type[http.server.BaseHTTPRequestHandler]:
    class Handler(http.server.BaseHTTPRequestHandler):
        def _handle(self) -> None:
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b""
            path, _, query = self.path.partition("?")
            answer = service._record_and_answer(Recorded(self.command, path, query, self.headers, body))
            self.send_response(answer.status)
            self.send_header("Content-Type", answer.content_type)
            self.send_header("Content-Length", str(len(answer.body)))
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
