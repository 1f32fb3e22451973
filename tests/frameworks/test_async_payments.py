"""The payments service for async code: the module's calls on worker threads, so the event
loop runs on while the service answers; a cancelled start leaves exactly one order or none,
never a lost or a second one; receivers announced on the loop, `async def` ones awaited."""

from __future__ import annotations

import threading
import uuid
from collections.abc import Iterator
from decimal import Decimal
from pathlib import Path

import anyio
import pytest
from sqlalchemy import Engine, create_engine
from vemrat_pay_fastapi import AsyncPayments
from vemrat_pay_sqlalchemy import Payment, Payments
from vemrat_pay_sqlalchemy.migrations import upgrade
from vemrat_pay_sqlalchemy.testing import PaymentSandbox

pytestmark = pytest.mark.anyio

# Long enough that the test sees the order stored while its answer is still held back.
HELD_ANSWER_SECONDS = 3


@pytest.fixture
def anyio_backend() -> str:
    return "asyncio"


@pytest.fixture
def sqlite_engine(tmp_path: Path) -> Iterator[Engine]:
    engine = create_engine(f"sqlite:///{tmp_path / 'payments.sqlite3'}")
    upgrade(engine)
    yield engine
    engine.dispose()


def async_payments(sandbox: PaymentSandbox, engine: Engine, nowhere: str,
                   max_threads: int = 4) -> AsyncPayments:
    return AsyncPayments(Payments(sandbox.config(callback_base_url=nowhere), engine),
                         max_threads=max_threads)


async def start(payments: AsyncPayments, reference: uuid.UUID) -> Payment:
    return await payments.start_payment(Decimal("10.00"), currency="CNY",
                                        recipient_account="2088000000000001", reference=reference)


async def until_orders(sandbox: PaymentSandbox, count: int) -> None:
    """Until the sandbox has stored `count` orders; the loop must be free to get here."""
    with anyio.fail_after(60):
        while len(await anyio.to_thread.run_sync(sandbox.sandbox.orders)) < count:
            await anyio.sleep(0.01)


# Where the start is when it is cancelled -> what it leaves: "one" order (stored, and the
# payment pending with its id) or "none" (nothing saved, nothing sent).
CANCELLATIONS = {
    "while the service answers": "one",
    "while waiting for a thread": "none",
}


@pytest.mark.parametrize("moment, leaves", CANCELLATIONS.items(), ids=CANCELLATIONS.keys())
async def test_a_cancelled_start_leaves_exactly_one_order_or_none(
        sandbox: PaymentSandbox, sqlite_engine: Engine, nowhere: str, moment: str,
        leaves: str) -> None:
    payments = async_payments(sandbox, sqlite_engine, nowhere, max_threads=1)
    sandbox.sandbox.add_fault("delay", "payment", seconds=HELD_ANSWER_SECONDS, count=2)
    occupying, cancelled = uuid.uuid4(), uuid.uuid4()
    scopes: dict[uuid.UUID, anyio.CancelScope] = {}
    returned: dict[uuid.UUID, Payment] = {}

    async def run(reference: uuid.UUID) -> None:
        with anyio.CancelScope() as scope:
            scopes[reference] = scope
            returned[reference] = await start(payments, reference)

    async with anyio.create_task_group() as group:
        if moment == "while waiting for a thread":
            group.start_soon(run, occupying)  # takes the only thread
            await until_orders(sandbox, 1)
            group.start_soon(run, cancelled)
            await anyio.sleep(0.1)  # however long it waits, it waits for the thread
        else:
            group.start_soon(run, cancelled)
            await until_orders(sandbox, 1)  # stored at the service, its answer held back
            # The loop ran while the start waited for the service.
            assert cancelled not in returned
        scopes[cancelled].cancel()

    stored = payments.payments.get(cancelled)
    orders = sandbox.sandbox.orders()
    if leaves == "one":
        assert stored is not None and stored.status == "pending"
        assert [order["order_id"] for order in orders] == [stored.order_id]
        # Started again, as a retried request would: the same payment, still one order.
        again = await start(payments, cancelled)
        assert again.order_id == stored.order_id and len(sandbox.sandbox.orders()) == 1
    else:
        assert stored is None
        assert returned[occupying].status == "pending"
        assert [order["order_id"] for order in orders] == [returned[occupying].order_id]


async def test_receivers_run_on_the_loop_and_async_ones_are_awaited(
        sandbox: PaymentSandbox, sqlite_engine: Engine, nowhere: str) -> None:
    payments = async_payments(sandbox, sqlite_engine, nowhere)
    loop_thread = threading.get_ident()
    heard: list[tuple[str, bool]] = []

    async def ship(payment: Payment) -> None:
        await anyio.sleep(0)
        heard.append(("async", threading.get_ident() == loop_thread))

    payments.events.connect("paid", ship)
    payments.events.connect("paid", lambda payment: heard.append(
        ("sync", threading.get_ident() == loop_thread)))
    payment = await start(payments, uuid.uuid4())
    await anyio.to_thread.run_sync(sandbox.pay, payment)
    request = sandbox.callback_request(payment)
    answer = await payments.handle_callback(str(payment.reference), request.body.encode(),
                                            request.headers["X-Vemrat-Signature"])
    assert (answer.status, heard) == (200, [("async", True), ("sync", True)])


async def test_a_cancelled_callback_still_announces_what_it_committed(
        sandbox: PaymentSandbox, sqlite_engine: Engine, nowhere: str) -> None:
    payments = async_payments(sandbox, sqlite_engine, nowhere)
    heard: list[str] = []
    payments.events.connect("paid", lambda payment: heard.append(payment.status))
    payment = await start(payments, uuid.uuid4())
    await anyio.to_thread.run_sync(sandbox.pay, payment)
    request = sandbox.callback_request(payment)
    sandbox.sandbox.add_fault("delay", "order_status", seconds=HELD_ANSWER_SECONDS)
    with anyio.CancelScope() as scope:
        async with anyio.create_task_group() as group:
            group.start_soon(payments.handle_callback, str(payment.reference),
                             request.body.encode(), request.headers["X-Vemrat-Signature"])
            await anyio.sleep(0.5)  # however far it got, the thread finishes it
            scope.cancel()
    assert heard == ["paid"]
