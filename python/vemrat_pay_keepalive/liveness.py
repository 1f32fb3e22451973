"""Whether an idle connection can still carry a request."""

from __future__ import annotations

import http.client
import select
import socket
import ssl


def is_quiet(connection: http.client.HTTPConnection) -> bool:
    """An idle connection never has anything to read: if it has, the server has closed it (or sent
    something no request asked for), and it must not carry another request."""
    sock = connection.sock
    if sock is None or sock.fileno() < 0:
        return False
    if isinstance(sock, ssl.SSLSocket) and sock.pending():
        return False
    return not readable_now(sock)


def readable_now(sock: socket.socket) -> bool:
    if hasattr(select, "poll"):
        poller = select.poll()
        poller.register(sock, select.POLLIN)
        return bool(poller.poll(0))
    readable, _, _ = select.select([sock], [], [], 0)
    return bool(readable)
