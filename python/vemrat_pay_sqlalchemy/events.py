"""Receivers of a payment's transitions: paid, failed, expired, settled, refunded, and of
"held" (an order offered to a payment is held for a person to decide).

The ledger names each transition once, to the worker that made it; the payments service
announces it here after the transaction that made it has committed. A rolled-back change
announces nothing. Receivers run after the commit, so the transition stands whatever they
do: one that raises is logged (logger "vemrat_pay") and the others still run.

    events = PaymentEvents()

    @events.on("paid")
    def ship(payment): ...

The FastAPI integration also takes `async def` receivers and awaits them on the event loop;
the Flask integration sends blinker signals (`vemrat_pay_flask.signals`).
"""

from __future__ import annotations

import inspect
import logging
from collections.abc import Awaitable, Callable
from dataclasses import dataclass
from typing import Any, TypeVar

from .models import Payment

logger = logging.getLogger("vemrat_pay")

TRANSITIONS = ("paid", "failed", "expired", "settled", "refunded")
# Besides the transitions: a payment newly held for a person to decide which order is its.
EVENTS = (*TRANSITIONS, "held")

Receiver = Callable[[Payment], Any]
R = TypeVar("R", bound=Receiver)


@dataclass(frozen=True)
class Announcement:
    """A transition made and committed, still to be announced."""

    transition: str
    payment: Payment


class PaymentEvents:
    """The receivers of each transition, in the order they were connected."""

    def __init__(self) -> None:
        self._receivers: dict[str, list[Receiver]] = {name: [] for name in EVENTS}

    def connect(self, transition: str, receiver: Receiver) -> None:
        if transition not in self._receivers:
            raise ValueError(f"no event {transition!r}: one of {', '.join(EVENTS)}")
        self._receivers[transition].append(receiver)

    def on(self, transition: str) -> Callable[[R], R]:
        """Decorator form of `connect`."""
        def decorate(receiver: R) -> R:
            self.connect(transition, receiver)
            return receiver
        return decorate

    def receivers(self, transition: str) -> list[Receiver]:
        return list(self._receivers[transition])

    def announce(self, announcement: Announcement) -> None:
        """Calls each receiver of the transition; an awaitable one's result is refused
        (`async def` receivers need the async service)."""
        for receiver in self.receivers(announcement.transition):
            try:
                result = receiver(announcement.payment)
                if inspect.isawaitable(result):
                    close = getattr(result, "close", None)
                    if close is not None:
                        close()
                    raise TypeError(f"{receiver!r} is async: announce it with the async service")
            except Exception:
                log_failure(receiver, announcement)

    async def announce_async(self, announcement: Announcement) -> None:
        """Calls each receiver and awaits the ones that are coroutines, in order."""
        for receiver in self.receivers(announcement.transition):
            try:
                result = receiver(announcement.payment)
                if inspect.isawaitable(result):
                    await awaited(result)
            except Exception:
                log_failure(receiver, announcement)


async def awaited(result: Awaitable[Any]) -> Any:
    return await result


def log_failure(receiver: Receiver, announcement: Announcement) -> None:
    logger.exception("receiver %r of payment %s failed for payment %s", receiver,
                     announcement.transition, announcement.payment.reference)
