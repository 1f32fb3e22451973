"""Services that close each kept connection after one answer without saying so (HTTP/1.1, no
"Connection: close"), at once, 2 ms later, or when the next request arrives: the race every
keep-alive client meets. The keep-alive tests and bench/keepalive_race.py use them."""

from __future__ import annotations

import dataclasses
import select
import socket
import time

from keepalive_support import answer_each
from service_fixture import ServiceServer

UNTIL_THE_NEXT_REQUEST = None

# How long each closes a connection after its answer, in seconds.
CLOSING = {
    "closes after its answer": 0.0,
    "closes 2 ms after its answer": 0.002,
    "closes when the next request arrives": UNTIL_THE_NEXT_REQUEST,
}


@dataclasses.dataclass
class HeldClose:
    """Holds back the server's close of a connection after its answer, by `delay` seconds or
    until the next request arrives; that one always wins the race and is never read."""

    delay: float | None
    unread: int = 0  # connections closed with a next request waiting

    def __call__(self, connection: socket.socket) -> None:
        if self.delay is not None:
            time.sleep(self.delay)
        elif select.select([connection], [], [], 30)[0]:
            self.unread += 1


def close_after_each_answer(server: ServiceServer, delay: float | None) -> HeldClose:
    """Makes a keep-alive ServiceServer answer each operation and close the connection after it,
    `delay` seconds later; returns the hook that counts the requests it never read."""
    held = HeldClose(delay)
    server.respond = lambda request: dataclasses.replace(answer_each(request), close=True, before_close=held)
    return held
