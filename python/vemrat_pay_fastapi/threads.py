"""The module's blocking calls, run on a bounded pool of threads so the event loop never waits.

`vemrat_pay` runs every request on the calling thread and waits for the service there; in
an `async def` endpoint that would stop every other request of the worker until the service
answers. Here each operation runs in a worker thread (anyio's), at most `max_threads` at
once; an operation that finds them all busy waits its turn without holding up the loop.

A cancelled caller (a client that went away, a timeout around the call) does not stop an
operation that has begun: the thread finishes it (the order is stored, its transitions
announced) and only then is the cancellation delivered. An operation cancelled while still
waiting for a thread never starts, and leaves nothing behind.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TypeVar

import anyio
import anyio.to_thread

T = TypeVar("T")

DEFAULT_MAX_THREADS = 40


class ThreadPool:
    """A bound on the threads the payments take from anyio's pool, shared by every caller."""

    def __init__(self, max_threads: int = DEFAULT_MAX_THREADS) -> None:
        if max_threads < 1:
            raise ValueError("max_threads must be at least 1")
        self.max_threads = max_threads
        self._limiter: anyio.CapacityLimiter | None = None

    @property
    def limiter(self) -> anyio.CapacityLimiter:
        # Made on first use, inside the running event loop.
        if self._limiter is None:
            self._limiter = anyio.CapacityLimiter(self.max_threads)
        return self._limiter

    async def run(self, function: Callable[[], T]) -> T:
        """`function()` in a worker thread; a cancellation waits until it has returned."""
        return await anyio.to_thread.run_sync(function, limiter=self.limiter,
                                              abandon_on_cancel=False)
