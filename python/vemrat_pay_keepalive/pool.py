"""Idle connections kept for reuse, shared by every thread of the process."""

from __future__ import annotations

import os
import threading
import weakref
from typing import NamedTuple

from .connections import PooledConnection
from .liveness import is_quiet
from .origin import Origin

Tunnel = tuple[str, "int | None", tuple[tuple[str, str], ...]]


class Route(NamedTuple):
    """How a connection reaches the server: its class, the address dialled (the server's, or a
    proxy's) and, through a proxy, the tunnel to the server with its headers."""

    connection_class: type[PooledConnection]
    address: str
    tunnel: Tunnel | None


class ConnectionPool:
    """Idle connections to one origin, at most `max_idle` per route. A connection is in the pool only
    while no request uses it: `take` hands it to one caller, `give_back` returns it."""

    def __init__(self, origin: Origin, max_idle: int = 10) -> None:
        self.origin = origin
        self.max_idle = max_idle
        self._lock = threading.Lock()
        self._idle: dict[Route, list[PooledConnection]] = {}
        self._closed = False
        _pools.add(self)

    def idle_connections(self) -> list[PooledConnection]:
        """The idle connections the pool holds now, to look at: they stay in the pool."""
        with self._lock:
            return [connection for connections in self._idle.values() for connection in connections]

    def serves(self, url: str) -> bool:
        return Origin.of(url) == self.origin

    def take(self, route: Route) -> PooledConnection | None:
        """The most recently used idle connection of `route` that the server has not closed, or None."""
        while True:
            with self._lock:
                idle = self._idle.get(route)
                if not idle:
                    return None
                connection = idle.pop()
            if is_quiet(connection):
                return connection
            connection.close()

    def give_back(self, route: Route, connection: PooledConnection) -> None:
        with self._lock:
            idle = self._idle.setdefault(route, [])
            if len(idle) < self.max_idle and not self._closed:
                idle.append(connection)
                return
        connection.close()

    def close(self) -> None:
        """Closes the idle connections and keeps none from now on: a connection in use is closed
        once its response has been read."""
        with self._lock:
            self._closed = True
        self._close_idle()

    def _close_idle(self) -> None:
        with self._lock:
            idle, self._idle = self._idle, {}
        for connections in idle.values():
            for connection in connections:
                connection.close()

    def _forget_after_fork(self) -> None:
        # The child shares the parent's sockets and must never use them; closing its copies of the
        # descriptors leaves the parent's connections open. The lock may have been held by a thread
        # that does not exist in the child.
        self._lock = threading.Lock()
        self._close_idle()


_pools: weakref.WeakSet[ConnectionPool] = weakref.WeakSet()


def _after_fork_in_child() -> None:
    for pool in list(_pools):
        pool._forget_after_fork()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_after_fork_in_child)
