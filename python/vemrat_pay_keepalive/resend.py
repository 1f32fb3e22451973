"""Which request may go once more on a new connection when its pooled connection failed."""

from __future__ import annotations

import dataclasses
import ssl
from collections.abc import Mapping
from typing import TYPE_CHECKING

from .connections import PooledConnection

if TYPE_CHECKING:
    from http.client import _DataType

# Methods whose request means the same sent twice as once.
IDEMPOTENT_METHODS = frozenset({"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"})

# How a connection ends under a request: the server closed or reset it (RemoteDisconnected is a
# ConnectionResetError), or TLS saw the transport end.
CONNECTION_ENDED = (ConnectionError, ssl.SSLEOFError, ssl.SSLZeroReturnError)


@dataclasses.dataclass(frozen=True)
class OutgoingRequest:
    """A request as do_open hands it over, kept so that it can be sent on another connection."""

    method: str
    url: str
    body: _DataType | str | None
    headers: Mapping[str, str]
    encode_chunked: bool

    def send_on(self, connection: PooledConnection) -> None:
        connection.request(self.method, self.url, self.body, dict(self.headers), encode_chunked=self.encode_chunked)

    @property
    def repeatable(self) -> bool:
        """Idempotent, and with a body that can be sent again (not a file or an iterator)."""
        return self.method in IDEMPOTENT_METHODS and (
            self.body is None or isinstance(self.body, (bytes, bytearray, memoryview, str))
        )


def may_send_again(connection: PooledConnection, request: OutgoingRequest, error: OSError) -> bool:
    """Whether `request`, which failed with `error` on a reused connection, may be sent once more.

    Yes when no byte of it was written: the server cannot have seen it. Otherwise only when the
    connection ended before any byte of the answer arrived, and the request is repeatable: this is
    the race of every reused connection, which the server closed while the request was on its way."""
    if not connection.request_written:
        return True
    return isinstance(error, CONNECTION_ENDED) and not connection.answer_started and request.repeatable
