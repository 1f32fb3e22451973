"""The sandbox service as an object: a threaded HTTP server on a background thread."""

from __future__ import annotations

import threading
import time
from typing import Callable, Mapping

from .callbacks import DEFAULT_TIMEOUT
from .server import DEFAULT_IDLE_TIMEOUT, DEFAULT_MAX_CONNECTIONS, SandboxHTTPServer
from .service import DEFAULT_ORDER_TTL, DEFAULT_TIMESTAMP_WINDOW, Service
from .store import Store


class Sandbox:
    """A local stand-in for the hosted payment service.

        with Sandbox(merchants={"ck": "sk"}, db=":memory:") as sandbox:
            os.environ["VEMRAT_PAY_BASE_URL"] = sandbox.base_url

    `merchants` maps community keys to sponsor keys. `db` is an SQLite file
    (orders and seen nonces survive a restart on it) or ":memory:". The server
    listens on `host`:`port` (port 0 lets the system choose) and serves from a
    daemon thread between `start()` and `stop()`, at most `max_connections`
    connections at once (others wait their turn); a connection silent for
    `idle_timeout` seconds is closed.
    """

    def __init__(self, merchants: Mapping[str, str], db: str = ":memory:", *,
                 host: str = "127.0.0.1", port: int = 0,
                 timestamp_window: float = DEFAULT_TIMESTAMP_WINDOW,
                 order_ttl: float = DEFAULT_ORDER_TTL,
                 callback_timeout: float = DEFAULT_TIMEOUT,
                 clock: Callable[[], float] = time.time, log: bool = False,
                 max_connections: int = DEFAULT_MAX_CONNECTIONS,
                 idle_timeout: float = DEFAULT_IDLE_TIMEOUT) -> None:
        self.store = Store(db)
        self.service = Service(merchants, self.store, clock=clock,
                               timestamp_window=timestamp_window, order_ttl=order_ttl,
                               callback_timeout=callback_timeout)
        try:
            self.server = SandboxHTTPServer((host, port), self.service, log=log,
                                            max_connections=max_connections,
                                            idle_timeout=idle_timeout)
        except BaseException:
            self.store.close()
            raise
        bound_host, bound_port = self.server.server_address[:2]
        shown_host = f"[{bound_host}]" if ":" in str(bound_host) else bound_host
        self.base_url = f"http://{shown_host}:{bound_port}"
        self.service.base_url = self.base_url
        self._thread: threading.Thread | None = None
        self._closed = False

    def start(self) -> "Sandbox":
        if self._thread is None:
            # A short poll interval lets stop() return promptly.
            self._thread = threading.Thread(target=self.server.serve_forever, args=(0.05,),
                                            name="vemrat-pay-sandbox", daemon=True)
            self._thread.start()
        return self

    def serve_forever(self) -> None:
        """Serve on the calling thread until `stop()` is called from another one or it is interrupted."""
        self.server.serve_forever()

    def stop(self) -> None:
        if self._closed:
            return
        self._closed = True
        if self._thread is not None:
            self.server.shutdown()
            self._thread.join()
        self.server.server_close()
        self.store.close()

    def __enter__(self) -> "Sandbox":
        return self.start()

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    def order(self, order_id: str) -> dict:
        """The internal record of one order with its callback attempts."""
        return self.service.record(order_id)
