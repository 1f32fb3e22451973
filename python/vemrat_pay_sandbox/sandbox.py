"""The sandbox service as an object: a threaded HTTP server on a background thread."""

from __future__ import annotations

import shutil
import ssl
import tempfile
import threading
import time
from collections.abc import Callable, Mapping, Sequence
from typing import Any

from .callbacks.attempt import DEFAULT_TIMEOUT
from .callbacks.outbox import DEFAULT_RETRY_DELAYS, Outbox
from .faults import FaultRules
from .service import DEFAULT_ORDER_TTL, DEFAULT_TIMESTAMP_WINDOW, Service
from .store import Store
from .tls import make_certificates
from .web.server import (DEFAULT_IDLE_TIMEOUT, DEFAULT_MAX_CONNECTIONS, DEFAULT_REQUEST_TIMEOUT,
                         SandboxHTTPServer)


class Sandbox:
    """A local stand-in for the hosted payment service.

        with Sandbox(merchants={"ck": "sk"}, db=":memory:") as sandbox:
            os.environ["VEMRAT_PAY_BASE_URL"] = sandbox.base_url

    `merchants` maps community keys to sponsor keys. `db` is an SQLite file
    (orders, seen nonces and unfinished callback deliveries survive a restart on
    it) or ":memory:". The server listens on `host`:`port` (port 0 lets the
    system choose) and serves from a background thread between `start()` and
    `stop()`, at most `max_connections` connections at once (others wait their
    turn); a connection silent for `idle_timeout` seconds is closed, and so is one
    whose request has not arrived whole (line, headers and body) `request_timeout`
    seconds after its first byte, with a 408, or whose TLS handshake has not ended
    within as long, so that slow clients cannot hold the connection slots.

    Callbacks are delivered on background threads, never while the request that
    caused them waits. An attempt that has no complete 2xx answer within
    `callback_timeout` seconds (for the whole attempt, however slowly the receiver
    answers), or whose answer cannot be parsed, is retried after each delay of
    `retry_delays` in turn (seconds; give short ones in tests), then given up.
    `wait_for_callbacks()` waits until every due attempt has been made; `stop()`
    cuts off the attempts under way (recorded as interrupted, made again at the
    next start on the same database).

    Connections are persistent (HTTP/1.1); `server.connections_accepted` counts
    those accepted so far, which shows a client's keep-alive at work. With
    `https=True` the sandbox serves HTTPS under a certificate made at start-up
    (with the `openssl` command) by a local CA whose certificate is `ca_file`:
    point `SSL_CERT_FILE` or an `ssl.SSLContext` at it. The CA is kept in
    `tls_dir` and reused when that directory is given again; without one, a
    temporary directory is used and removed by `stop()`.

    A page in a browser on the same machine cannot use the sandbox behind the
    developer's back. A request is refused (403) when its Host header names something
    other than an IP address, `localhost` or a name under `.localhost`, `host`, or one
    of `allowed_hosts` (names the sandbox is reached by, such as a container's
    service name): a page of another site whose name has been made to resolve to
    127.0.0.1 names its own. A request other than GET or HEAD is refused when a browser
    sent it from another origin (its Origin is not this sandbox's scheme, host and
    port, or its Sec-Fetch-Site is neither "same-origin" nor "none"), and the
    dashboard's forms also need the token its own pages carry. Scripts, curl and
    server-side clients send neither header and are served as always.
    """

    def __init__(self, merchants: Mapping[str, str], db: str = ":memory:", *,
                 host: str = "127.0.0.1", port: int = 0,
                 timestamp_window: float = DEFAULT_TIMESTAMP_WINDOW,
                 order_ttl: float = DEFAULT_ORDER_TTL,
                 callback_timeout: float = DEFAULT_TIMEOUT,
                 retry_delays: Sequence[float] = DEFAULT_RETRY_DELAYS,
                 clock: Callable[[], float] = time.time, log: bool = False,
                 max_connections: int = DEFAULT_MAX_CONNECTIONS,
                 idle_timeout: float = DEFAULT_IDLE_TIMEOUT,
                 request_timeout: float = DEFAULT_REQUEST_TIMEOUT,
                 https: bool = False, tls_dir: str | None = None,
                 allowed_hosts: Sequence[str] = ()) -> None:
        self.ca_file: str | None = None
        self._temporary_tls_dir: str | None = None
        tls = self._tls_context(host, tls_dir) if https else None
        self.store = Store(db)
        self.outbox = Outbox(self.store.deliveries, retry_delays=retry_delays,
                             timeout=callback_timeout)
        self.fault_rules = FaultRules(merchants)
        self.service = Service(merchants, self.store, self.outbox, self.fault_rules, clock=clock,
                               timestamp_window=timestamp_window, order_ttl=order_ttl)
        try:
            self.server = SandboxHTTPServer((host, port), self.service, log=log,
                                            max_connections=max_connections,
                                            idle_timeout=idle_timeout,
                                            request_timeout=request_timeout, tls=tls,
                                            allowed_hosts=allowed_hosts)
        except BaseException:
            self.store.close()
            self._remove_temporary_tls_dir()
            raise
        bound_host, bound_port = self.server.server_address[:2]
        shown_host = f"[{bound_host!s}]" if ":" in str(bound_host) else str(bound_host)
        self.base_url = f"{'https' if https else 'http'}://{shown_host}:{bound_port}"
        self.service.base_url = self.base_url
        self._thread: threading.Thread | None = None
        self._outbox_started = False
        self._closed = False

    # -- running ----------------------------------------------------------------

    def start(self) -> Sandbox:
        """Serve from a daemon thread; returns at once."""
        self._start_outbox()
        if self._thread is None:
            # A short poll interval lets stop() return promptly.
            self._thread = threading.Thread(target=self.server.serve_forever, args=(0.05,),
                                            name="vemrat-pay-sandbox", daemon=True)
            self._thread.start()
        return self

    def serve_forever(self) -> None:
        """Serve on the calling thread until `stop()` is called from another one or it is interrupted."""
        self._start_outbox()
        self.server.serve_forever()

    def stop(self) -> None:
        """Stop serving and delivering; unfinished deliveries stay scheduled in the database."""
        if self._closed:
            return
        self._closed = True
        if self._thread is not None:
            self.server.shutdown()
            self._thread.join()
        self.server.server_close()
        if self._outbox_started:
            self.outbox.stop()
        self.store.close()
        self._remove_temporary_tls_dir()

    def _tls_context(self, host: str, tls_dir: str | None) -> ssl.SSLContext:
        if tls_dir is None:
            tls_dir = self._temporary_tls_dir = tempfile.mkdtemp(prefix="vemrat-sandbox-tls-")
        try:
            certificate = make_certificates(tls_dir, host)
        except BaseException:
            self._remove_temporary_tls_dir()
            raise
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate.certificate_file, certificate.key_file)
        self.ca_file = certificate.ca_file
        return context

    def _remove_temporary_tls_dir(self) -> None:
        if self._temporary_tls_dir is not None:
            shutil.rmtree(self._temporary_tls_dir, ignore_errors=True)
            self._temporary_tls_dir = None

    def _start_outbox(self) -> None:
        if not self._outbox_started:
            self._outbox_started = True
            self.outbox.start()

    def __enter__(self) -> Sandbox:
        return self.start()

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    # -- orders and callbacks ---------------------------------------------------

    def order(self, order_id: str) -> dict[str, Any]:
        """The internal record of one order, as GET /sandbox/orders/<order_id> shows it.

        Its "callbacks" list each delivery of a callback (oldest first) with "url",
        "body", "signature", "cause" ("event", "duplicate" or "resend"), "state"
        ("scheduled", "delivered", "failed", "dropped" or "held") and "attempts",
        each attempt with "attempt" (1, 2, ...), "status" (the HTTP status or None),
        "error" and "sent"; "status", "error" and "sent" of the delivery itself are
        those of its latest attempt.
        """
        return self.service.record(order_id)

    def orders(self) -> list[dict[str, Any]]:
        """Every order, oldest first, without its callbacks."""
        return self.service.records()

    def resend_callback(self, order_id: str) -> dict[str, Any]:
        """Deliver the order's latest callback again, past every fault rule; its record."""
        return self.service.resend(order_id)

    def wait_for_callbacks(self, timeout: float = 10.0) -> None:
        """Block until no callback attempt is due or under way; TimeoutError after `timeout` s.

        Callbacks held by a "reorder" rule or dropped by a "drop" rule do not count.
        """
        if not self.outbox.wait_idle(timeout):
            raise TimeoutError(f"callbacks still due after {timeout:g} s")

    # -- fault injection --------------------------------------------------------

    def add_fault(self, fault: str, endpoint: str, *, merchant: str | None = None,
                  count: int = 1, **options: object) -> dict[str, Any]:
        """Make the next `count` requests of `endpoint` go wrong as `fault` says.

        The same rules as POST /sandbox/faults (see `vemrat_pay_sandbox.faults.rules`),
        for `merchant` (a community key) or, when None, for every merchant:

            sandbox.add_fault("timeout_after_commit", "payment", seconds=5)
            sandbox.add_fault("error", "order_status", status=503, count=2)
            sandbox.add_fault("malformed", "payment", body="no_data")
            sandbox.add_fault("delay", "order_status", seconds=1.5)
            sandbox.add_fault("duplicate", "callback")
            sandbox.add_fault("delay", "callback", seconds=3)
            sandbox.add_fault("drop", "callback")
            sandbox.add_fault("reorder", "callback")

        Returns the rule as listed, with its "id". Raises `Rejected` (status 400 and
        a detail) for a rule that is not valid.
        """
        document: dict[str, object] = {"endpoint": endpoint, "fault": fault, "count": count,
                                       **options}
        if merchant is not None:
            document["merchant"] = merchant
        return self.fault_rules.add(document)

    def faults(self) -> list[dict[str, Any]]:
        """The rules in force, oldest first; "count" is the number of uses each has left."""
        return self.fault_rules.listed()

    def clear_faults(self) -> None:
        self.fault_rules.clear()
