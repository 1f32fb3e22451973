"""The connections the pool keeps: http.client's own, which also tell whether any byte of the
current request has been written."""

from __future__ import annotations

import http.client
import sys
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from http.client import _DataType

# The largest plaintext of one TLS record.
TLS_RECORD = 16384


class PooledConnection(http.client.HTTPConnection):
    """An HTTP connection; `request_written` is set once a byte of the request may have left."""

    request_written = False

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


class PooledHTTPSConnection(PooledConnection, http.client.HTTPSConnection):
    pass


POOLED_CLASSES: dict[type[http.client.HTTPConnection], type[PooledConnection]] = {
    http.client.HTTPConnection: PooledConnection,
    http.client.HTTPSConnection: PooledHTTPSConnection,
}
