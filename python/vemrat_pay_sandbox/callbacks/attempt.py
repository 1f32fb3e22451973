"""One delivery attempt: a POST of the callback to the merchant's notify URL.

The attempt as a whole, from connecting to the last byte of the answer, has `timeout`
seconds: a receiver that trickles its answer a byte at a time is cut off at that deadline
as surely as one that says nothing. `cancel()` cuts an attempt off at once from another
thread, so that stopping the sandbox never waits for a receiver. Whatever the receiver
does, the attempt ends with an outcome: an answer that cannot be parsed is a failed
attempt like any other.
"""

from __future__ import annotations

import functools
import http.client
import socket
import ssl
import threading
import urllib.error
import urllib.request
from dataclasses import dataclass
from typing import Any

from ..urls import ascii_url
from .message import SIGNATURE_HEADER

DEFAULT_TIMEOUT = 5.0
INTERRUPTED = "interrupted: the sandbox stopped before the answer came"
_FINISHED = "finished"


@dataclass(frozen=True)
class Outcome:
    """The receiver's HTTP status, or None and the error text."""
    status: int | None
    error: str
    # Cut off by cancel(): the receiver's answer is unknown.
    interrupted: bool = False

    @property
    def delivered(self) -> bool:
        return self.status is not None and 200 <= self.status < 300


class Attempt:
    """One POST of a callback, ended by its deadline or by `cancel()`, whichever comes first."""

    def __init__(self, timeout: float = DEFAULT_TIMEOUT) -> None:
        self.timeout = timeout
        self._lock = threading.Lock()
        self._sockets: list[socket.socket] = []
        self._ended = ""  # under way; then why it was cut off, or _FINISHED

    def post(self, url: str, body: str, signature: str) -> Outcome | None:
        """POST the callback once; None if cancelled before anything was sent. Never raises."""
        with self._lock:
            if self._ended:
                return None
        timed_out = f"timed out: no complete answer within {self.timeout:g} s"
        deadline = threading.Timer(self.timeout, self._end, (timed_out,))
        deadline.daemon = True
        deadline.start()
        try:
            outcome = self._post(url, body, signature)
        except Exception as error:
            # A single read may time out before the deadline does: the same failure.
            outcome = Outcome(None, timed_out if _timeout(error) else
                              f"{type(error).__name__}: {error}")
        finally:
            deadline.cancel()
        with self._lock:
            cut_off, self._ended = self._ended, self._ended or _FINISHED
        # Cut off, the connection's end may have passed for the end of a complete answer.
        if cut_off == INTERRUPTED:
            return Outcome(None, INTERRUPTED, interrupted=True)
        return Outcome(None, cut_off) if cut_off else outcome

    def cancel(self) -> None:
        """End the attempt now, from any thread; its outcome says it was interrupted."""
        self._end(INTERRUPTED)

    def _post(self, url: str, body: str, signature: str) -> Outcome:
        request = urllib.request.Request(
            ascii_url(url), data=body.encode("utf-8"), method="POST",
            headers={"Content-Type": "application/json", SIGNATURE_HEADER: signature})
        opener = urllib.request.build_opener(_NoRedirects, _WatchedHTTP(self),
                                             _WatchedHTTPS(self, _https_context()))
        try:
            with opener.open(request, timeout=self.timeout) as response:
                while response.read(65536):
                    pass  # read whole, kept nowhere: a receiver may answer at length
                if response.length:
                    # Reads of a given size end quietly where the connection does.
                    raise http.client.IncompleteRead(b"", response.length)
                status: int = response.status
        except urllib.error.HTTPError as error:
            error.close()
            status = error.code
        return Outcome(status, "" if 200 <= status < 300 else f"HTTP {status}")

    def _end(self, reason: str) -> None:
        with self._lock:
            if self._ended:
                return
            self._ended = reason
            sockets = list(self._sockets)
        for connection in sockets:
            _shut_down(connection)

    def watch(self, connection: socket.socket) -> socket.socket:
        """Have `connection` shut down when the attempt is cut off (at once if it already is)."""
        with self._lock:
            self._sockets.append(connection)
            cut_off = bool(self._ended)
        if cut_off:
            _shut_down(connection)
        return connection


def _timeout(error: Exception) -> bool:
    return isinstance(error, TimeoutError) or (isinstance(error, urllib.error.URLError)
                                                and isinstance(error.reason, TimeoutError))


def _shut_down(connection: socket.socket) -> None:
    # Wakes a read or write blocked on another thread. The plain socket's shutdown: a TLS
    # socket's own would try to speak TLS first.
    try:
        socket.socket.shutdown(connection, socket.SHUT_RDWR)
    except OSError:
        pass  # closed already


def _watched(base: type[http.client.HTTPConnection], attempt: Attempt
             ) -> type[http.client.HTTPConnection]:
    class Watched(base):  # type: ignore[valid-type,misc]
        def connect(self) -> None:
            create = self._create_connection  # type: ignore[has-type]
            # The plain socket as soon as it exists, the TLS one once it has taken over.
            self._create_connection = lambda *args, **kwargs: attempt.watch(create(*args, **kwargs))
            super().connect()
            attempt.watch(self.sock)

    return Watched


class _WatchedHTTP(urllib.request.HTTPHandler):
    def __init__(self, attempt: Attempt) -> None:
        super().__init__()
        self._connection = _watched(http.client.HTTPConnection, attempt)

    def http_open(self, req: urllib.request.Request) -> http.client.HTTPResponse:
        return self.do_open(self._connection, req)


class _WatchedHTTPS(urllib.request.HTTPSHandler):
    def __init__(self, attempt: Attempt, context: ssl.SSLContext) -> None:
        super().__init__(context=context)
        self._connection = _watched(http.client.HTTPSConnection, attempt)

    def https_open(self, req: urllib.request.Request) -> http.client.HTTPResponse:
        return self.do_open(self._connection, req, context=self._context)  # type: ignore[attr-defined]


class _NoRedirects(urllib.request.HTTPRedirectHandler):
    # A redirect answers the callback no more than an error does, and following it would
    # turn the POST into a GET without the body.
    def redirect_request(self, *args: Any, **kwargs: Any) -> None:
        return None


@functools.cache
def _https_context() -> ssl.SSLContext:
    # Made once, as urllib's own opener does: loading the trusted certificates takes time.
    return ssl.create_default_context()
