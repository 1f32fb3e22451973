"""One request on a pooled connection, in the shape of the connection urllib's do_open creates."""

from __future__ import annotations

import copy
import http.client
import io
import socket
import urllib.error
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from .connections import PooledConnection
from .pool import ConnectionPool, Route, Tunnel
from .resend import OutgoingRequest, may_send_again

if TYPE_CHECKING:
    from http.client import _DataType

# urllib's marker for "no timeout given": the process-wide default applies.
DEFAULT_TIMEOUT: object = getattr(socket, "_GLOBAL_DEFAULT_TIMEOUT")


class PooledExchange:
    """Takes the place of the HTTPConnection that do_open creates for one request: `request` sends
    it on an idle connection of the pool (or a new one), `getresponse` reads the response whole and
    gives the connection back. A request whose reused connection failed goes once more on a new
    connection when `may_send_again` allows it. do_open closes `sock` after the response, so the
    real socket is never shown; it calls `close` after any failure, which discards the connection."""

    sock = None

    def __init__(
        self, pool: ConnectionPool, connection_class: type[PooledConnection], host: str, *, timeout: object,
        **options: Any,
    ) -> None:
        self._pool = pool
        self._connection_class = connection_class
        self._host = host
        self._timeout = timeout
        self._options = options
        self._debuglevel = 0
        self._tunnel: Tunnel | None = None
        self._connection: PooledConnection | None = None
        self._reused = False
        self._request: OutgoingRequest | None = None

    def set_debuglevel(self, level: int) -> None:
        self._debuglevel = level

    def set_tunnel(self, host: str, port: int | None = None, headers: Mapping[str, str] | None = None) -> None:
        self._tunnel = (host, port, tuple(sorted((headers or {}).items())))

    @property
    def _route(self) -> Route:
        return Route(self._connection_class, self._host, self._tunnel)

    def request(
        self, method: str, url: str, body: _DataType | str | None = None, headers: Mapping[str, str] = {},
        *, encode_chunked: bool = False,
    ) -> None:
        # do_open asks for "Connection: close"; without it an HTTP/1.1 connection stays open.
        headers = {name: value for name, value in headers.items() if name.lower() != "connection"}
        self._request = OutgoingRequest(method, url, body, headers, encode_chunked)
        reused = self._pool.take(self._route)
        if reused is not None:
            self._connection, self._reused = reused, True
            reused.timeout = self._timeout  # type: ignore[assignment]
            reused.sock.settimeout(socket_timeout(self._timeout))
            try:
                self._request.send_on(reused)
                return
            except OSError as error:
                if not may_send_again(reused, self._request, error):
                    raise
                reused.close()
        self._send_on_a_new_connection()

    def getresponse(self) -> http.client.HTTPResponse:
        connection, request = self._connection, self._request
        assert connection is not None and request is not None, "getresponse() before request()"
        try:
            response = connection.getresponse()
        except OSError as error:
            if not (self._reused and may_send_again(connection, request, error)):
                raise
            connection.close()
            try:
                self._send_on_a_new_connection()
            except OSError as send_error:  # as do_open reports a request that could not be sent
                raise urllib.error.URLError(send_error)
            connection = self._connection
            assert connection is not None
            response = connection.getresponse()
        body = response.read()
        self._connection = None
        if response.will_close:
            connection.close()
        else:
            self._pool.give_back(self._route, connection)
        return replayed(response, body)

    def _send_on_a_new_connection(self) -> None:
        assert self._request is not None
        self._connection, self._reused = self._open(), False
        self._request.send_on(self._connection)

    def close(self) -> None:
        if self._connection is not None:
            self._connection.close()
            self._connection = None

    def _open(self) -> PooledConnection:
        connection = self._connection_class(self._host, timeout=self._timeout, **self._options)  # type: ignore[arg-type]
        connection.set_debuglevel(self._debuglevel)
        if self._tunnel is not None:
            host, port, headers = self._tunnel
            connection.set_tunnel(host, port, dict(headers))
        return connection


def socket_timeout(timeout: object) -> float | None:
    """The socket timeout of a request's timeout: urllib's marker means the process default now."""
    if timeout is DEFAULT_TIMEOUT:
        return socket.getdefaulttimeout()
    assert timeout is None or isinstance(timeout, (int, float))
    return timeout


def replayed(response: http.client.HTTPResponse, body: bytes) -> http.client.HTTPResponse:
    """A copy of a response read whole, that reads `body` from memory. The connection keeps the
    original, finished one, so that it can carry the next request."""
    copied = copy.copy(response)
    copied.fp = io.BufferedReader(io.BytesIO(body))
    copied.length = len(body)
    copied.chunked = False
    return copied
