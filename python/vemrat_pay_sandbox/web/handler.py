"""One connection's requests: reading them, routing them, and answering every one.

Answers are compact JSON, 200 {"data": ...} or an error status with {"detail": "..."},
except the payer's HTML pages. A request the parser refuses gets a JSON detail too, and
a fault of the sandbox itself a 500 with a detail: never a silently closed connection.
"""

from __future__ import annotations

import io
import json
import re
import select
import socket
import sys
import time
import traceback
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler
from typing import TYPE_CHECKING

from ..protocol import Rejected
from ..service import Service
from ..states import Conflict
from . import control_routes, dashboard_routes, payer_routes, service_routes
from .browser_checks import check_host, check_origin
from .request_reader import RequestReader, RequestTimeout
from .routing import ANY_METHOD, Route

if TYPE_CHECKING:
    from .server import SandboxHTTPServer

MAX_BODY = 1 << 20
# How long a connection closed on a refusal goes on reading what the client still sends.
DRAIN_SECONDS = 1.0
ROUTES: list[Route] = [*service_routes.ROUTES, *payer_routes.ROUTES, *control_routes.ROUTES,
                       *dashboard_routes.ROUTES]

_HEADER_VALUE = re.compile(r"[\x20-\x7e]*")


class SandboxHandler(BaseHTTPRequestHandler):
    server: SandboxHTTPServer
    server_version = "VemratSandbox/0.1"
    # Persistent connections: every answer has a Content-Length and every body is read.
    protocol_version = "HTTP/1.1"
    # An answer goes out as two writes, head then body. With Nagle's algorithm the body would wait
    # for the client's delayed acknowledgement of the head (40 ms) on every kept-alive answer.
    disable_nagle_algorithm = True
    # Answers to unreadable request lines get a status line too (HTTP/0.9 had none).
    default_request_version = "HTTP/1.0"

    body = b""
    query = ""
    # Set when a refusal leaves part of the request unread.
    unread_input = False

    def setup(self) -> None:
        super().setup()
        self.rfile.close()
        self.reader = RequestReader(self.connection, self.server.idle_timeout,
                                    self.server.request_timeout)
        self.rfile = io.BufferedReader(self.reader)

    def handle_one_request(self) -> None:
        # What an answer needs, also to a request that never arrived whole.
        self.command, self.request_version, self.requestline = "", self.default_request_version, ""
        self.reader.expect_request()
        super().handle_one_request()  # a read that timed out ends the connection
        if self.reader.expired:
            self.close_connection = self.unread_input = True
            try:
                self.answer_detail(408, self.reader.expiry)
            except OSError:
                pass  # the client is gone

    def finish(self) -> None:
        if self.unread_input:
            self._drain()
        super().finish()

    def _drain(self) -> None:
        """Half-close, then read and drop what the client still sends, for a moment.

        Closing a socket with input unread resets the connection, and a client that was
        still sending when the refusal came might lose the refusal with it.
        """
        try:
            socket.socket.shutdown(self.connection, socket.SHUT_WR)
            deadline = time.monotonic() + DRAIN_SECONDS
            while (left := deadline - time.monotonic()) > 0:
                self.connection.settimeout(left)
                if not self.connection.recv(65536):
                    return
        except OSError:
            pass  # reset or timed out: nothing more to save

    @property
    def service(self) -> Service:
        return self.server.service

    def log_message(self, format: str, *args: object) -> None:
        if self.server.log:
            super().log_message(format, *args)

    # -- answers -------------------------------------------------------------

    def answer(self, status: int, content_type: str, payload: bytes,
               headers: dict[str, str] | None = None) -> None:
        fields = {"Content-Type": content_type, "Content-Length": str(len(payload)),
                  "Cache-Control": "no-store", "X-Content-Type-Options": "nosniff",
                  **(headers or {})}
        if self.server.waiting:
            # Another connection waits for a slot: free this one instead of keeping it.
            self.close_connection = True
        if self.close_connection:
            fields["Connection"] = "close"
        for name, value in fields.items():
            if not _HEADER_VALUE.fullmatch(value):
                raise ValueError(f"refusing to send header {name} with a value outside "
                                 f"printable ASCII: {value!r}")
        self.send_response(status)
        for name, value in fields.items():
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)

    def answer_json(self, status: int, document: object) -> None:
        text = json.dumps(document, separators=(",", ":"), ensure_ascii=False)
        self.answer(status, "application/json; charset=utf-8", text.encode("utf-8"))

    def answer_detail(self, status: int, detail: str) -> None:
        self.answer_json(status, {"detail": detail})

    def answer_html(self, status: int, page: str) -> None:
        # No page of another site may show this one in a frame and have its buttons clicked.
        self.answer(status, "text/html; charset=utf-8", page.encode("utf-8"),
                    {"Content-Security-Policy": "frame-ancestors 'none'", "X-Frame-Options": "DENY"})

    def send_error(self, code: int, message: str | None = None, explain: str | None = None) -> None:
        # Requests the parser refuses are answered like every other refusal.
        self.close_connection = self.unread_input = True
        self.answer_detail(code, message or HTTPStatus(code).phrase)

    def pause(self, seconds: float) -> None:
        """Wait `seconds`, or less if the server stops meanwhile."""
        self.server.stopping.wait(seconds)

    def withhold_answer(self, seconds: float) -> None:
        """Hold the connection for `seconds` without answering, then close it.

        The hold ends early when the client gives up (its end becomes readable) or the
        server stops, so that a waiting thread never outlives its client for long.
        """
        self.close_connection = True
        deadline = time.monotonic() + seconds
        while not self.server.stopping.is_set():
            left = deadline - time.monotonic()
            if left <= 0 or select.select([self.connection], [], [], min(left, 0.1))[0]:
                return

    # -- the request ----------------------------------------------------------

    def text_body(self) -> str:
        try:
            return self.body.decode("utf-8")
        except UnicodeDecodeError:
            raise Rejected(400, "request body is not UTF-8") from None

    def json_body(self, empty: object) -> object:
        """The body's JSON value (`empty` for a blank body); strings are always valid text."""
        text = self.text_body()
        if not text.strip():
            return empty
        try:
            document = json.loads(text)
            json.dumps(document, ensure_ascii=False).encode("utf-8")
        except UnicodeEncodeError:
            raise Rejected(400, "request body is not text: it escapes a lone surrogate") from None
        except RecursionError:
            raise Rejected(400, "request body is nested too deeply") from None
        except ValueError:
            raise Rejected(400, "request body is not JSON") from None
        return document

    def _read_body(self) -> bytes:
        if "Transfer-Encoding" in self.headers:
            raise Rejected(411, "a request body needs a Content-Length")
        lengths = {value.strip() for value in self.headers.get_all("Content-Length") or []}
        if not lengths:
            return b""
        length = lengths.pop()
        # ASCII digits only: str.isdigit() and int() also take "²" and "٣".
        if lengths or not re.fullmatch(r"[0-9]+", length):
            raise Rejected(400, "malformed Content-Length")
        if int(length) > MAX_BODY:
            raise Rejected(413, f"request body too large: at most {MAX_BODY} bytes")
        return self.rfile.read(int(length))

    # -- dispatch ------------------------------------------------------------

    def do_GET(self) -> None:
        self._dispatch("GET")

    def do_HEAD(self) -> None:
        self._dispatch("HEAD")

    def do_POST(self) -> None:
        self._dispatch("POST")

    def do_PUT(self) -> None:
        self._dispatch("PUT")

    def do_PATCH(self) -> None:
        self._dispatch("PATCH")

    def do_DELETE(self) -> None:
        self._dispatch("DELETE")

    def _dispatch(self, method: str) -> None:
        try:
            try:
                self.body = self._read_body()
            except Rejected:
                # The body cannot be skipped, so the connection cannot serve another request.
                self.close_connection = self.unread_input = True
                raise
            self.reader.request_read()
            check_host(self.headers, self.server.accepted_hosts)
            check_origin(method, self.headers, self.server.scheme)
            self._route(method)
        except Rejected as rejected:
            self.answer_detail(rejected.status, rejected.detail)
        except Conflict as conflict:
            self.answer_detail(409, conflict.detail)
        except RequestTimeout:
            raise  # answered by handle_one_request, as when the head is late
        except Exception as error:
            # A fault of the sandbox itself: say so rather than drop the connection.
            traceback.print_exc(file=sys.stderr)
            self.close_connection = True
            try:
                self.answer_detail(500, f"internal error: {type(error).__name__}: {error}")
            except OSError:
                pass  # the connection itself failed

    def _route(self, method: str) -> None:
        url = urllib.parse.urlsplit(self.path)
        self.query = url.query
        allowed = []
        for candidate in ROUTES:
            match = candidate.pattern.fullmatch(url.path)
            if match is None:
                continue
            if candidate.method in (ANY_METHOD, method) or (method, candidate.method) == ("HEAD", "GET"):
                candidate.answer(self, match)
                return
            allowed.append(candidate.method)
        if allowed:
            raise Rejected(405, f"method not allowed: use {' or '.join(allowed)}")
        raise Rejected(404, "not found")
