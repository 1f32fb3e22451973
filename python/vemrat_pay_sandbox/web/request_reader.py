"""A connection's bytes, read under two time limits.

Between requests a connection may stay silent for `idle_timeout` seconds. Once the first
byte of a request has come, the whole request (its line, headers and body) must come
within `request_timeout` seconds, however the client spreads it out: a client sending a
byte every few seconds would otherwise hold its connection slot for ever.
"""

from __future__ import annotations

import io
import socket
import time


class RequestTimeout(TimeoutError):
    """The request did not arrive whole within its time."""


class RequestReader(io.RawIOBase):
    """Raw reads from `connection` for a buffered reader, under the two limits.

    `expect_request()` starts the wait for the next request; `request_read()` says that
    the request has been read whole. A read past the request's deadline raises
    RequestTimeout, one that waits for a request longer than `idle_timeout` TimeoutError.
    """

    def __init__(self, connection: socket.socket, idle_timeout: float,
                 request_timeout: float) -> None:
        super().__init__()
        self._connection = connection
        self._idle_timeout = idle_timeout
        self.request_timeout = request_timeout
        self._reading_request = False
        self._deadline: float | None = None
        self.expired = False

    def readable(self) -> bool:
        return True

    def expect_request(self) -> None:
        self._reading_request, self._deadline, self.expired = True, None, False

    def request_read(self) -> None:
        self._reading_request, self._deadline = False, None

    def readinto(self, buffer: memoryview) -> int:  # type: ignore[override]
        timeout = self._idle_timeout
        if self._deadline is not None:
            timeout = min(timeout, self._deadline - time.monotonic())
            if timeout <= 0:
                self._expire()
        self._connection.settimeout(timeout)
        try:
            count = self._connection.recv_into(buffer)
        except TimeoutError:
            if self._deadline is not None:
                self._expire()
            raise
        if count and self._reading_request and self._deadline is None:
            self._deadline = time.monotonic() + self.request_timeout
        return count

    @property
    def expiry(self) -> str:
        return f"the request did not arrive whole within {self.request_timeout:g} s"

    def _expire(self) -> None:
        self.expired = True
        raise RequestTimeout(self.expiry)
