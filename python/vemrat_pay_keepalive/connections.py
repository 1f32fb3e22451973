"""The connections the pool keeps: http.client's own, which also tell whether any byte of the
current request has been written and whether any byte of its answer has arrived."""

from __future__ import annotations

import http.client
import sys
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import socket

    from http.client import _DataType

# The largest plaintext of one TLS record.
TLS_RECORD = 16384


class PooledConnection(http.client.HTTPConnection):
    """An HTTP connection; `request_written` is set once a byte of the request may have left,
    `answer_started` once a byte of its answer has arrived. Both start unset with each request."""

    request_written = False
    answer_started = False

    def putrequest(self, *args: Any, **options: Any) -> None:
        self.request_written = False
        self.answer_started = False
        super().putrequest(*args, **options)

    def send(self, data: _DataType | str) -> None:
        if self.request_written or self.sock is None or not isinstance(data, bytes):
            self.request_written = True
            super().send(data)
            return
        sys.audit("http.client.send", self, data)
        if self.debuglevel > 0:
            print("send:", repr(data))
        view = memoryview(data)
        # The first write is a single send() of at most one TLS record. If it raises, no byte of the
        # request reached the server: TCP queued nothing, and TLS never delivers part of a record.
        written = self.sock.send(view[:TLS_RECORD])
        self.request_written = True
        self.sock.sendall(view[written:])

    # getresponse() makes the response of each request by calling response_class, a class there.
    def response_class(  # type: ignore[override]
        self, sock: socket.socket, *args: Any, **options: Any,
    ) -> http.client.HTTPResponse:
        return WatchedResponse(self, sock, *args, **options)


class PooledHTTPSConnection(PooledConnection, http.client.HTTPSConnection):
    pass


class WatchedResponse(http.client.HTTPResponse):
    """A response that sets its connection's `answer_started` when its first byte arrives."""

    def __init__(self, connection: PooledConnection, sock: socket.socket, *args: Any, **options: Any) -> None:
        super().__init__(sock, *args, **options)
        self._connection: PooledConnection | None = connection

    def begin(self) -> None:
        connection, self._connection = self._connection, None
        # Waits for the first byte without taking it. A connection that ends first raises its error
        # here, or gives nothing, and then reading the status line raises RemoteDisconnected.
        if connection is not None and self.fp.peek(1):
            connection.answer_started = True
        super().begin()


POOLED_CLASSES: dict[type[http.client.HTTPConnection], type[PooledConnection]] = {
    http.client.HTTPConnection: PooledConnection,
    http.client.HTTPSConnection: PooledHTTPSConnection,
}
