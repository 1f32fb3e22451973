"""The listening server: one thread per connection, a bound on connections served at once."""

from __future__ import annotations

import socket
import threading
from http.server import ThreadingHTTPServer

from ..service import Service
from .handler import SandboxHandler

DEFAULT_MAX_CONNECTIONS = 64
# How long a connection may stay silent before the server closes it and frees its slot.
DEFAULT_IDLE_TIMEOUT = 30.0


class SandboxHTTPServer(ThreadingHTTPServer):
    """Serves at most `max_connections` connections at once, each on its own thread.

    Further connections wait, accepted or in the listen backlog, until one of those
    served closes; `waiting` counts the accepted ones. `stopping` is set by `shutdown()`
    and ends every wait a handler makes.
    """

    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address: tuple[str, int], service: Service, *, log: bool = False,
                 max_connections: int = DEFAULT_MAX_CONNECTIONS,
                 idle_timeout: float = DEFAULT_IDLE_TIMEOUT) -> None:
        self._slots = threading.BoundedSemaphore(max_connections)
        self.stopping = threading.Event()
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
                if self.stopping.is_set():
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
        self.stopping.set()
        super().shutdown()
