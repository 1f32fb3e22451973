"""astart_payment and arefresh_payment: the event loop runs on while the service answers."""

from __future__ import annotations

import asyncio
import http.server
import threading
from collections.abc import Iterator
from decimal import Decimal

import pytest
from asgiref.sync import sync_to_async
from django.db import connections
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import arefresh_payment, astart_payment
from vemrat_pay_django.testing import PaymentSandbox

pytestmark = pytest.mark.django_db(transaction=True)

HELD_ANSWER = b'{"data":{"order_id":"VPheld","pay_url":"http://127.0.0.1/pay/VPheld"}}'


class HeldService(http.server.ThreadingHTTPServer):
    """Answers a payment only once `release` is set; `arrived` tells that a request came."""

    daemon_threads = True

    def __init__(self) -> None:
        super().__init__(("127.0.0.1", 0), HeldHandler)
        self.arrived = threading.Event()
        self.release = threading.Event()
        self.base_url = f"http://127.0.0.1:{self.server_address[1]}"


class HeldHandler(http.server.BaseHTTPRequestHandler):
    server: HeldService

    def do_POST(self) -> None:
        self.rfile.read(int(self.headers["Content-Length"]))
        self.server.arrived.set()
        self.server.release.wait(timeout=30)
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(HELD_ANSWER)))
        self.end_headers()
        self.wfile.write(HELD_ANSWER)

    def log_message(self, format: str, *args: object) -> None:
        pass


async def close_worker_connections() -> None:
    """Closes the database connection of the thread the async API ran its work in (a
    request's end does that in a server)."""
    await sync_to_async(connections.close_all)()


@pytest.fixture
def held_service(monkeypatch: pytest.MonkeyPatch) -> Iterator[HeldService]:
    server = HeldService()
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.base_url)
    yield server
    server.release.set()
    server.shutdown()
    thread.join()
    server.server_close()


def test_astart_payment_leaves_the_event_loop_free(payments: PaymentSandbox,
                                                   held_service: HeldService) -> None:
    async def checkout() -> Payment:
        started = asyncio.create_task(astart_payment(
            Decimal("8.00"), currency="CNY", recipient_account="2088000000000001"))
        # Only a free event loop gets here while the service holds its answer; a blocked one
        # would sit in the request until the socket timeout made the payment unconfirmed.
        assert await asyncio.to_thread(held_service.arrived.wait, 30)
        assert not started.done()
        held_service.release.set()
        payment = await started
        await close_worker_connections()
        return payment

    payment = asyncio.run(checkout())
    assert (payment.status, payment.order_id) == (Payment.Status.PENDING, "VPheld")
    assert Payment.objects.get().order_id == "VPheld"


def test_arefresh_payment_brings_the_state(payments: PaymentSandbox) -> None:
    async def pay_and_refresh() -> Payment:
        payment = await astart_payment(Decimal("8.00"), currency="CNY",
                                       recipient_account="2088000000000001")
        await asyncio.to_thread(payments.pay, payment)
        payment = await arefresh_payment(payment)
        await close_worker_connections()
        return payment

    payment = asyncio.run(pay_and_refresh())
    assert payment.status == Payment.Status.PAID
    assert Payment.objects.get().status == Payment.Status.PAID
