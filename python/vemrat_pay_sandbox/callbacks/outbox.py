"""Callbacks on their way out: delivered on worker threads, retried, held or dropped by rules.

A callback that gets no 2xx answer (or no answer, or one that cannot be parsed, or none
complete within the attempt's deadline) is tried again after each delay of the retry
schedule in turn, then given up ("failed"); every attempt is recorded. The callbacks of
one order go out one at a time, in the order they fall due, so that only a fault rule
reorders them; any free worker takes the next due callback of an order not already under
way, so a slow receiver holds up only its own order's callbacks. Nothing here ever
blocks the request that caused a callback, and stopping cuts off the attempts under way.
"""

from __future__ import annotations

import sys
import threading
import time
import traceback
from collections.abc import Sequence

from ..faults import FaultRule
from ..store.deliveries import DROPPED, DELIVERED, FAILED, HELD, SCHEDULED, Deliveries
from ..timestamps import iso_utc
from .attempt import DEFAULT_TIMEOUT, INTERRUPTED, Attempt

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
        self._workers = workers
        self._changed = threading.Condition()
        # (due, delivery id, order id) of every delivery waiting for its attempt.
        self._queue: list[tuple[float, int, str]] = []
        # The attempts under way, and the orders they belong to.
        self._under_way: dict[Attempt, str] = {}
        self._stopping = False
        self._threads: list[threading.Thread] = []

    def start(self) -> None:
        """Take up the deliveries a previous run left scheduled, and start the workers."""
        for delivery_id, order_id, due in self._deliveries.scheduled():
            self._schedule(delivery_id, order_id, due)
        for _ in range(self._workers):
            thread = threading.Thread(target=self._work, daemon=True,
                                      name="vemrat-pay-sandbox-callbacks")
            thread.start()
            self._threads.append(thread)

    def stop(self) -> None:
        """Cut off the attempts under way and stop the workers; what is left stays scheduled.

        An attempt cut off is recorded as interrupted and is made again at the next start,
        without using up a retry.
        """
        with self._changed:
            self._stopping = True
            for attempt in self._under_way:
                attempt.cancel()
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
                lambda: not self._under_way and not self._queue, timeout)

    def _schedule(self, delivery_id: int, order_id: str, due: float) -> None:
        with self._changed:
            self._queue.append((due, delivery_id, order_id))
            self._changed.notify_all()

    def _next(self) -> tuple[tuple[float, int, str] | None, float | None]:
        """The delivery to attempt now, or None and how long to wait for one (None: until told)."""
        busy = set(self._under_way.values())
        waiting = [entry for entry in self._queue if entry[2] not in busy]
        if not waiting:
            return None, None
        first = min(waiting)
        wait = first[0] - time.time()
        return (first, 0.0) if wait <= 0 else (None, wait)

    def _work(self) -> None:
        while True:
            with self._changed:
                while True:
                    if self._stopping:
                        return
                    entry, wait = self._next()
                    if entry is not None:
                        break
                    self._changed.wait(wait)
                self._queue.remove(entry)
                _, delivery_id, order_id = entry
                # Made and listed under the lock, so that a stop from now on cuts it off.
                attempt = Attempt(self.timeout)
                self._under_way[attempt] = order_id
            try:
                self._deliver(delivery_id, order_id, attempt)
            except Exception:
                # A fault of the sandbox itself: report it and keep the worker alive.
                traceback.print_exc(file=sys.stderr)
            finally:
                with self._changed:
                    del self._under_way[attempt]
                    self._changed.notify_all()

    def _deliver(self, delivery_id: int, order_id: str, attempt: Attempt) -> None:
        delivery = self._deliveries.get(delivery_id)
        if delivery is None or delivery["state"] != SCHEDULED:
            return
        outcome = attempt.post(delivery["url"], delivery["body"], delivery["signature"])
        if outcome is None:
            return  # stopped before it was sent: still scheduled as it was
        # An attempt cut off by a stop says nothing of the receiver: it uses up no retry.
        made = self._deliveries.attempts_made(delivery_id, not_counting=INTERRUPTED)
        now = time.time()
        if outcome.delivered:
            state, due = DELIVERED, None
        elif outcome.interrupted:
            state, due = SCHEDULED, now
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
