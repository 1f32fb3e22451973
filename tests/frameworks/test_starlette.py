"""A Starlette application without FastAPI, served by uvicorn, takes the same callback
endpoint: the sandbox's own delivery is answered 200, forged and unknown ones 400 and 404."""

from __future__ import annotations

import dataclasses
import threading
import time
import uuid
from collections.abc import Iterator
from decimal import Decimal

import pytest
import uvicorn
from sqlalchemy import Engine
from starlette.applications import Starlette
from vemrat_pay_fastapi import AsyncPayments, install_starlette
from vemrat_pay_sqlalchemy import Payments
from vemrat_pay_sqlalchemy.testing import PaymentSandbox, post_over_http, signed_callback

from shop_servers import free_port


@pytest.fixture
def served(sandbox: PaymentSandbox, engine: Engine) -> Iterator[Payments]:
    port = free_port()
    payments = Payments(sandbox.config(callback_base_url=f"http://127.0.0.1:{port}"), engine)
    app = Starlette()
    install_starlette(app, AsyncPayments(payments))
    server = uvicorn.Server(uvicorn.Config(app, host="127.0.0.1", port=port, log_level="warning"))
    thread = threading.Thread(target=server.run, daemon=True)
    thread.start()
    deadline = time.monotonic() + 60
    while not server.started:
        assert thread.is_alive() and time.monotonic() < deadline, "uvicorn did not start"
        time.sleep(0.01)  # polling uvicorn's own flag, bounded above
    yield payments
    server.should_exit = True
    thread.join()


def test_the_callback_endpoint_on_starlette(sandbox: PaymentSandbox, served: Payments) -> None:
    payment = served.start_payment(Decimal("10.00"), currency="CNY",
                                   recipient_account="2088000000000001")
    delivered = sandbox.pay(payment)["callbacks"][-1]
    assert (delivered["url"], delivered["attempts"][-1]["status"]) == (payment.callback_url, 200)
    stored = served.get(payment.reference)
    assert stored is not None and stored.status == "paid"

    forged = signed_callback(payment, status="paid", sponsor_key="not-the-sponsor-key")
    assert post_over_http(forged).status == 400
    genuine = signed_callback(payment, status="paid")
    unknown = dataclasses.replace(genuine, url=payment.callback_url.replace(
        str(payment.reference), str(uuid.uuid4())))
    assert (post_over_http(unknown).status, post_over_http(unknown).text) == (404, "unknown payment")
