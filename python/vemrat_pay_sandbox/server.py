"""HTTP routing of the sandbox service.

    POST /alipayment/sponsor/pay/             create a payment (form body)
    GET  /alipayment/sponsor/order-status/    signed order-status query
    GET  /pay/<order_id>                      payment page (buttons "pay", "fail")
    POST /pay/<order_id>/pay | /fail          payer's choice: 303 to return_url or a result page
    GET  /sandbox/orders                      every order's internal record
    GET  /sandbox/orders/<order_id>           one record with its callback attempts
    POST /sandbox/orders/<order_id>/<action>  pay, fail, settle, refund or expire

Service answers are compact JSON: 200 {"data": ...} or a 4xx {"detail": "..."}.
"""

from __future__ import annotations

import json
import re
import socket
import sys
import threading
import traceback
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import pages
from .protocol import Rejected
from .service import Service
from .states import Conflict
from .urls import ascii_url

PAY_PATH = "/alipayment/sponsor/pay/"
ORDER_STATUS_PATH = "/alipayment/sponsor/order-status/"
MAX_BODY = 1 << 20
DEFAULT_MAX_CONNECTIONS = 64
# How long a connection may stay silent before the server closes it and frees its slot.
DEFAULT_IDLE_TIMEOUT = 30.0

_HEADER_VALUE = re.compile(r"[\x20-\x7e]*")

_PAGE = re.compile(r"/pay/(?P<order_id>[^/]+)")
_PAGE_ACTION = re.compile(r"/pay/(?P<order_id>[^/]+)/(?P<action>pay|fail)")
_CONTROL_ORDER = re.compile(r"/sandbox/orders/(?P<order_id>[^/]+)")
_CONTROL_ACTION = re.compile(r"/sandbox/orders/(?P<order_id>[^/]+)/(?P<action>[^/]+)")


class SandboxHTTPServer(ThreadingHTTPServer):
    """Serves at most `max_connections` connections at once, each on its own thread.

    Further connections wait, accepted or in the listen backlog, until one of those
    served closes; `waiting` counts the accepted ones.
    """

    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address: tuple[str, int], service: Service, *, log: bool = False,
                 max_connections: int = DEFAULT_MAX_CONNECTIONS,
                 idle_timeout: float = DEFAULT_IDLE_TIMEOUT) -> None:
        self._slots = threading.BoundedSemaphore(max_connections)
        self._closing = threading.Event()
        self.waiting = 0
        self.idle_timeout = idle_timeout
        super().__init__(address, SandboxHandler)
        self.service = service
        self.log = log

    def process_request(self, request: socket.socket,  # type: ignore[override]
                        client_address: tuple[str, int]) -> None:
        # Runs on the accepting thread, so while every slot is taken nothing more is accepted.
        self.waiting += 1
        try:
            while not self._slots.acquire(timeout=0.05):
                if self._closing.is_set():
                    self.shutdown_request(request)
                    return
        finally:
            self.waiting -= 1
        try:
            super().process_request(request, client_address)
        except BaseException:
            self._slots.release()
            raise

    def process_request_thread(self, request: socket.socket,  # type: ignore[override]
                               client_address: tuple[str, int]) -> None:
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def shutdown(self) -> None:
        self._closing.set()
        super().shutdown()


class SandboxHandler(BaseHTTPRequestHandler):
    server: SandboxHTTPServer
    server_version = "VemratSandbox/0.1"
    # Answers to unreadable request lines get a status line too (HTTP/0.9 had none).
    default_request_version = "HTTP/1.0"

    def setup(self) -> None:
        self.timeout = self.server.idle_timeout
        super().setup()

    def log_message(self, format: str, *args: object) -> None:
        if self.server.log:
            super().log_message(format, *args)

    # -- answers -------------------------------------------------------------

    def _send(self, status: int, content_type: str, payload: bytes,
              headers: dict[str, str] | None = None) -> None:
        fields = {"Content-Type": content_type, "Content-Length": str(len(payload)),
                  "Cache-Control": "no-store", **(headers or {})}
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

    def _json(self, status: int, document: object) -> None:
        text = json.dumps(document, separators=(",", ":"), ensure_ascii=False)
        self._send(status, "application/json; charset=utf-8", text.encode("utf-8"))

    def _detail(self, status: int, detail: str) -> None:
        self._json(status, {"detail": detail})

    def _html(self, status: int, page: str) -> None:
        self._send(status, "text/html; charset=utf-8", page.encode("utf-8"))

    def _body(self) -> bytes:
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        if not length.isdigit() or int(length) > MAX_BODY:
            raise Rejected(413, "request body too large or of unknown length")
        return self.rfile.read(int(length))

    def _text_body(self) -> str:
        try:
            return self._body().decode("utf-8")
        except UnicodeDecodeError:
            raise Rejected(400, "request body is not UTF-8") from None

    # -- dispatch ------------------------------------------------------------

    def do_GET(self) -> None:
        self._dispatch("GET")

    def do_POST(self) -> None:
        self._dispatch("POST")

    def send_error(self, code: int, message: str | None = None, explain: str | None = None) -> None:
        # Requests the parser refuses are answered like every other refusal.
        self.close_connection = True
        self._detail(code, message or HTTPStatus(code).phrase)

    def _dispatch(self, method: str) -> None:
        try:
            self._route(method)
        except Exception as error:
            # A fault of the sandbox itself: say so rather than drop the connection.
            traceback.print_exc(file=sys.stderr)
            self.close_connection = True
            try:
                self._detail(500, f"internal error: {type(error).__name__}: {error}")
            except OSError:
                pass  # the connection itself failed

    def _route(self, method: str) -> None:
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        try:
            if path == PAY_PATH:
                self._only(method, "POST")
                self._create_payment()
            elif path == ORDER_STATUS_PATH:
                self._only(method, "GET")
                self._json(200, {"data": self.server.service.order_status(url.query)})
            elif path.startswith("/pay/"):
                self._payer(method, path)
            elif path == "/sandbox/orders":
                self._only(method, "GET")
                self._json(200, {"data": self.server.service.records()})
            elif path.startswith("/sandbox/orders/"):
                self._control(method, path)
            else:
                raise Rejected(404, "not found")
        except Rejected as rejected:
            self._detail(rejected.status, rejected.detail)
        except Conflict as conflict:
            self._detail(409, conflict.detail)

    @staticmethod
    def _only(method: str, allowed: str) -> None:
        if method != allowed:
            raise Rejected(405, f"method not allowed: use {allowed}")

    def _create_payment(self) -> None:
        content_type = self.headers.get_content_type()
        if self.headers.get("Content-Type") and content_type != "application/x-www-form-urlencoded":
            raise Rejected(415, "expected application/x-www-form-urlencoded")
        self._json(200, {"data": self.server.service.create_payment(self._text_body())})

    def _payer(self, method: str, path: str) -> None:
        service = self.server.service
        page = _PAGE.fullmatch(path)
        action = _PAGE_ACTION.fullmatch(path)
        if page and method == "GET":
            order = service.store.order(page["order_id"])
            if order is None:
                self._html(404, pages.message_page("Unknown order", "There is no such order."))
            else:
                self._html(200, pages.payment_page(order))
            return
        if not (action and method == "POST"):
            self._html(404, pages.message_page("Not found", "There is no such page."))
            return
        self._body()  # the buttons post an empty form
        try:
            order = service.apply(action["order_id"], action["action"])
        except Rejected as rejected:
            self._html(rejected.status, pages.message_page("Unknown order", rejected.detail))
            return
        except Conflict as conflict:
            self._html(409, pages.message_page("Order not payable", conflict.detail))
            return
        if order["return_url"]:
            self._send(303, "text/plain; charset=utf-8", b"",
                       {"Location": ascii_url(order["return_url"])})
        else:
            self._html(200, pages.result_page(order))

    def _control(self, method: str, path: str) -> None:
        service = self.server.service
        record = _CONTROL_ORDER.fullmatch(path)
        action = _CONTROL_ACTION.fullmatch(path)
        if record:
            self._only(method, "GET")
            self._json(200, {"data": service.record(record["order_id"])})
            return
        if not action:
            raise Rejected(404, "not found")
        self._only(method, "POST")
        options = self._json_options()
        settle_amount = options.get("amount")
        reason = options.get("reason", "")
        if settle_amount is not None and not isinstance(settle_amount, str):
            raise Rejected(400, "amount must be a string such as \"10.00\"")
        if not isinstance(reason, str):
            raise Rejected(400, "reason must be a string")
        service.apply(action["order_id"], action["action"], reason=reason,
                      settle_amount=settle_amount)
        self._json(200, {"data": service.record(action["order_id"])})

    def _json_options(self) -> dict:
        text = self._text_body()
        if not text.strip():
            return {}
        try:
            options = json.loads(text)
        except ValueError:
            raise Rejected(400, "request body is not JSON") from None
        if not isinstance(options, dict):
            raise Rejected(400, "request body must be a JSON object")
        try:
            json.dumps(options, ensure_ascii=False).encode("utf-8")
        except UnicodeEncodeError:
            raise Rejected(400, "request body is not text: it escapes a lone surrogate") from None
        return options
