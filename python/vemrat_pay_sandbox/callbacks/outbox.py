"""Callbacks on their way out: delivered on worker threads, retried, held or dropped by rules.

A callback that gets no 2xx answer (or no answer) is tried again after each delay of
the retry schedule in turn, then given up ("failed"); every attempt is recorded. The
callbacks of one order go out one at a time, in the order they fall due, so that only
a fault rule reorders them. Nothing here ever blocks the request that caused a callback.
"""

from __future__ import annotations

import heapq
import sys
import threading
import time
import traceback
import zlib
from collections.abc import Sequence

from ..faults import FaultRule
from ..store.deliveries import DROPPED, DELIVERED, FAILED, HELD, SCHEDULED, Deliveries
from ..timestamps import iso_utc
from .attempt import DEFAULT_TIMEOUT, attempt

# Delays in seconds before the second, third, ... attempt.
DEFAULT_RETRY_DELAYS = (2.0, 10.0, 30.0, 120.0, 300.0)
WORKERS = 4


class Outbox:
    """Schedules and makes delivery attempts between `start()` and `stop()`."""

    def __init__(self, deliveries: Deliveries, *,
                 retry_delays: Sequence[float] = DEFAULT_RETRY_DELAYS,
                 timeout: float = DEFAULT_TIMEOUT, workers: int = WORKERS) -> None:
        self._deliveries = deliveries
        self.retry_delays = tuple(float(delay) for delay in retry_delays)
        self.timeout = timeout
        self._changed = threading.Condition()
        # One queue of (due, delivery id, order id) per worker; an order always uses the same.
        self._queues: list[list[tuple[float, int, str]]] = [[] for _ in range(workers)]
        self._in_flight = 0
        self._stopping = False
        self._threads: list[threading.Thread] = []

    def start(self) -> None:
        """Take up the deliveries a previous run left scheduled, and start the workers."""
        for delivery_id, order_id, due in self._deliveries.scheduled():
            self._schedule(delivery_id, order_id, due)
        for queue in self._queues:
            thread = threading.Thread(target=self._work, args=(queue,), daemon=True,
                                      name="vemrat-pay-sandbox-callbacks")
            thread.start()
            self._threads.append(thread)

    def stop(self) -> None:
        """Stop the workers once their current attempts end; what is left stays scheduled."""
        with self._changed:
            self._stopping = True
            self._changed.notify_all()
        for thread in self._threads:
            thread.join()

    def send(self, order_id: str, url: str, body: str, signature: str,
             rule: FaultRule | None = None) -> None:
        """Record a new callback and deliver it, as the callback fault `rule` (if any) says."""
        fault = rule.fault if rule is not None else ""
        now = time.time()
        state, due = {"drop": (DROPPED, None), "reorder": (HELD, None),
                      "delay": (SCHEDULED, now + (rule.seconds if rule else 0.0))
                      }.get(fault, (SCHEDULED, now))
        causes = ["event", "duplicate"] if fault == "duplicate" else ["event"]
        for cause in causes:
            delivery_id = self._deliveries.add(order_id, url, body, signature, cause=cause,
                                               state=state, due=due, created=iso_utc(now))
            if due is not None:
                self._schedule(delivery_id, order_id, due)

    def resend(self, order_id: str) -> bool:
        """Deliver the order's latest callback once more, past every rule; False if it has none."""
        latest = self._deliveries.latest(order_id)
        if latest is None:
            return False
        now = time.time()
        delivery_id = self._deliveries.add(order_id, latest["url"], latest["body"],
                                           latest["signature"], cause="resend",
                                           state=SCHEDULED, due=now, created=iso_utc(now))
        self._schedule(delivery_id, order_id, now)
        return True

    def wait_idle(self, timeout: float) -> bool:
        """Wait until no attempt is due or under way (held and dropped ones do not count)."""
        with self._changed:
            return self._changed.wait_for(
                lambda: self._in_flight == 0 and not any(self._queues), timeout)

    def _schedule(self, delivery_id: int, order_id: str, due: float) -> None:
        queue = self._queues[zlib.crc32(order_id.encode("utf-8")) % len(self._queues)]
        with self._changed:
            heapq.heappush(queue, (due, delivery_id, order_id))
            self._changed.notify_all()

    def _work(self, queue: list[tuple[float, int, str]]) -> None:
        while True:
            with self._changed:
                while not self._stopping and not (queue and queue[0][0] <= time.time()):
                    self._changed.wait(queue[0][0] - time.time() if queue else None)
                if self._stopping:
                    return
                _, delivery_id, order_id = heapq.heappop(queue)
                self._in_flight += 1
            try:
                self._deliver(delivery_id, order_id)
            except Exception:
                # A fault of the sandbox itself: report it and keep the worker alive.
                traceback.print_exc(file=sys.stderr)
            finally:
                with self._changed:
                    self._in_flight -= 1
                    self._changed.notify_all()

    def _deliver(self, delivery_id: int, order_id: str) -> None:
        delivery = self._deliveries.get(delivery_id)
        if delivery is None or delivery["state"] != SCHEDULED:
            return
        outcome = attempt(delivery["url"], delivery["body"], delivery["signature"], self.timeout)
        made = self._deliveries.attempts_made(delivery_id)
        now = time.time()
        if outcome.delivered:
            state, due = DELIVERED, None
        elif made < len(self.retry_delays):
            state, due = SCHEDULED, now + self.retry_delays[made]
        else:
            state, due = FAILED, None
        self._deliveries.record_attempt(delivery_id, status=outcome.status, error=outcome.error,
                                        sent=iso_utc(now), state=state, due=due)
        if due is not None:
            self._schedule(delivery_id, order_id, due)
        else:
            for held_id in self._deliveries.release_held(order_id, before=delivery_id, due=now):
                self._schedule(held_id, order_id, now)
