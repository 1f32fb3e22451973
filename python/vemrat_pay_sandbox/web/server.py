"""The listening server: one thread per connection, a bound on connections served at once,
persistent HTTP/1.1 connections, and TLS when it is given a context."""

from __future__ import annotations

import errno
import json
import secrets
import socket
import ssl
import threading
from collections.abc import Iterable
from http.server import ThreadingHTTPServer

from ..service import Service
from .browser_checks import AcceptedHosts
from .handler import SandboxHandler

DEFAULT_MAX_CONNECTIONS = 64
# How long a connection may stay silent (before its first request or between two) before
# the server closes it and frees its slot.
DEFAULT_IDLE_TIMEOUT = 15.0
# How long a request may take to arrive whole, from its first byte.
DEFAULT_REQUEST_TIMEOUT = 10.0
# The first byte of every TLS connection: a handshake record.
_TLS_HANDSHAKE = 0x16


class CannotListen(OSError):
    """The server cannot listen on its address; the message says which and what to do."""


class SandboxHTTPServer(ThreadingHTTPServer):
    """Serves at most `max_connections` connections at once, each on its own thread.

    Further connections wait, accepted or in the listen backlog, until one of those
    served closes; `waiting` counts the accepted ones, and while any waits, every answer
    closes its connection instead of keeping it. `connections_accepted` counts every
    connection since the start. `stopping` is set by `shutdown()`, ends every wait a
    handler makes and closes the connections still open. `server_close()` does the same
    and then waits for every connection's thread.

    Requests must name in Host the host it listens on, one of `allowed_hosts` or a name
    that cannot be rebound (see browser_checks). `form_token` is the token the console's
    forms carry, new with every server.
    """

    # Joined by server_close(), so that no connection's thread outlives stop(): one still
    # running when the interpreter exits is cut off half-way.
    daemon_threads = False
    request_queue_size = 64

    def __init__(self, address: tuple[str, int], service: Service, *, log: bool = False,
                 max_connections: int = DEFAULT_MAX_CONNECTIONS,
                 idle_timeout: float = DEFAULT_IDLE_TIMEOUT,
                 request_timeout: float = DEFAULT_REQUEST_TIMEOUT,
                 tls: ssl.SSLContext | None = None, allowed_hosts: Iterable[str] = ()) -> None:
        self._slots = threading.BoundedSemaphore(max_connections)
        self._open: set[socket.socket] = set()
        self._open_lock = threading.Lock()
        self.stopping = threading.Event()
        self.waiting = 0
        self.connections_accepted = 0
        self.idle_timeout = idle_timeout
        self.request_timeout = request_timeout
        self.tls = tls
        self.requested_address = address
        self.scheme = "http" if tls is None else "https"
        self.accepted_hosts = AcceptedHosts([address[0], *allowed_hosts])
        self.form_token = secrets.token_urlsafe(32)
        super().__init__(address, SandboxHandler)
        self.service = service
        self.log = log

    def server_bind(self) -> None:
        try:
            super().server_bind()
        except OSError as error:
            host, port = self.requested_address
            advice = ("stop the program that uses it, or choose another port with --port "
                      "(0 lets the system choose a free one)" if error.errno == errno.EADDRINUSE
                      else "choose another --host or --port")
            raise CannotListen(error.errno, f"cannot listen on {host} port {port}: "
                                            f"{error.strerror}; {advice}") from error

    def process_request(self, request: socket.socket,  # type: ignore[override]
                        client_address: tuple[str, int]) -> None:
        # Runs on the accepting thread, so while every slot is taken nothing more is accepted.
        self.connections_accepted += 1
        self.waiting += 1
        try:
            while not self._slots.acquire(timeout=0.05):
                if self.stopping.is_set():
                    self.shutdown_request(request)
                    return
        finally:
            self.waiting -= 1
        # Recorded before its thread starts, so that a stop right after finds it.
        with self._open_lock:
            self._open.add(request)
        try:
            super().process_request(request, client_address)
        except BaseException:
            self._served(request)
            raise

    def process_request_thread(self, request: socket.socket,  # type: ignore[override]
                               client_address: tuple[str, int]) -> None:
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._served(request)

    def _served(self, request: socket.socket) -> None:
        # Once per connection, whoever comes first: the connection's thread when it ends, or
        # process_request when starting that thread was interrupted (a SIGTERM, say) after the
        # thread had already started. A second release would raise in place of the interrupt.
        with self._open_lock:
            if request not in self._open:
                return
            self._open.discard(request)
        self._slots.release()

    def finish_request(self, request: socket.socket,  # type: ignore[override]
                       client_address: tuple[str, int]) -> None:
        if self.tls is None:
            super().finish_request(request, client_address)
            return
        request.settimeout(self.idle_timeout)
        try:
            first = request.recv(1, socket.MSG_PEEK)
            if first and first[0] != _TLS_HANDSHAKE:
                _refuse_plain_http(request)
                return
            # The handshake's timeout bounds it as a whole, however slowly the client sends it.
            request.settimeout(self.request_timeout)
            secured = self.tls.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return  # no handshake, no channel to answer on
        # The TLS socket took over the descriptor: closing the plain one no longer reaches it.
        with self._open_lock:
            self._open.add(secured)
        try:
            super().finish_request(secured, client_address)
        finally:
            with self._open_lock:
                self._open.discard(secured)
            secured.close()

    def shutdown(self) -> None:
        self.stopping.set()
        super().shutdown()
        self._close_open_connections()

    def server_close(self) -> None:
        self.stopping.set()
        self._close_open_connections()
        super().server_close()

    def _close_open_connections(self) -> None:
        with self._open_lock:
            for connection in self._open:
                try:
                    # The plain socket's shutdown: a TLS socket's own drops its TLS state under
                    # the thread still using it.
                    socket.socket.shutdown(connection, socket.SHUT_RDWR)
                except OSError:
                    pass  # already closed, or a plain socket whose descriptor TLS took over


def _refuse_plain_http(connection: socket.socket) -> None:
    """Answer a plain HTTP request that reached the HTTPS port, so that the mistake shows."""
    payload = json.dumps({"detail": "this sandbox speaks HTTPS: use an https:// URL"}).encode()
    connection.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n"
                       b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(payload), payload))
