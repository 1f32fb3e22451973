"""The payments service for async code: every call in a worker thread, events on the loop.

    payments = AsyncPayments(Payments(config, engine))
    payment = await payments.start_payment(Decimal("19.99"), currency="CNY",
                                           recipient_account="2088000000000001",
                                           return_url="/orders/42", request=request)

Each call runs the synchronous service (the ledger, its database work and the module's
request) in a thread of a bounded pool (`threads.ThreadPool`). The transitions it committed
are announced afterwards on the event loop, awaiting `async def` receivers; they are
announced also when the caller is cancelled meanwhile or the call fails after a commit,
since nobody else will announce them.
"""

from __future__ import annotations

import uuid
from collections.abc import Callable
from datetime import timedelta
from decimal import Decimal
from typing import TypeVar

import anyio
from starlette.requests import Request
from vemrat_pay_ledger.ledger import Refreshed
from vemrat_pay_sqlalchemy.events import Announcement, PaymentEvents
from vemrat_pay_sqlalchemy.models import Payment
from vemrat_pay_sqlalchemy.service import CallbackAnswer, Payments

from .threads import DEFAULT_MAX_THREADS, ThreadPool

T = TypeVar("T")


class AsyncPayments:
    """`Payments` for async code; `events` takes sync and `async def` receivers."""

    def __init__(self, payments: Payments, *, max_threads: int = DEFAULT_MAX_THREADS) -> None:
        self.payments = payments
        self.pool = ThreadPool(max_threads)

    @property
    def events(self) -> PaymentEvents:
        return self.payments.events

    async def start_payment(self, amount: Decimal, *, currency: str, recipient_account: str,
                            pay_mode: str = "split", return_url: str | None = None,
                            reference: uuid.UUID | None = None,
                            request: Request | None = None) -> Payment:
        """`Payments.start_payment`; with `request`, URLs given as paths (and the callback URL,
        without `callback_base_url`) are made absolute on the request's origin."""
        base_url = str(request.base_url) if request is not None else None
        return await self._run(lambda collected: self.payments.start_payment(
            amount, currency=currency, recipient_account=recipient_account, pay_mode=pay_mode,
            return_url=return_url, reference=reference, base_url=base_url, collected=collected))

    async def refresh_payment(self, payment: Payment | uuid.UUID) -> Payment:
        return await self._run(lambda collected: self.payments.refresh_payment(
            payment, collected=collected))

    async def handle_callback(self, reference: str, body: bytes, signature: str) -> CallbackAnswer:
        return await self._run(lambda collected: self.payments.handle_callback(
            reference, body, signature, collected=collected))

    async def reconcile(self, *, older_than: timedelta = timedelta(seconds=300),
                        limit: int = 500, unsettled: bool = False) -> list[Refreshed]:
        return await self._run(lambda collected: self.payments.reconcile(
            older_than=older_than, limit=limit, unsettled=unsettled, collected=collected))

    async def get(self, reference: uuid.UUID | str) -> Payment | None:
        """The payment with this reference, or None (read in a worker thread too)."""
        return await self.pool.run(lambda: self.payments.get(reference))

    async def _run(self, operation: Callable[[list[Announcement]], T]) -> T:
        collected: list[Announcement] = []
        try:
            return await self.pool.run(lambda: operation(collected))
        finally:
            # The thread has finished (a cancellation waits for it): what it committed is told.
            if collected:
                with anyio.CancelScope(shield=True):
                    for announcement in collected:
                        await self.events.announce_async(announcement)
