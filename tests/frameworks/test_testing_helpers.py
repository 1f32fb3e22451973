"""The testing helpers as a shop's tests use them: the pytest fixture with a running sandbox,
and a payment's callback, correctly signed, delivered over HTTP or through a test client."""

from __future__ import annotations

import subprocess
import sys
import textwrap
import threading
from collections.abc import Iterator
from decimal import Decimal
from pathlib import Path

import pytest
from flask import Flask
from sqlalchemy import Engine
from vemrat_pay_flask import VemratPay
from vemrat_pay_sqlalchemy import Payments
from vemrat_pay_sqlalchemy.testing import (CallbackRequest, Delivered, PaymentSandbox,
                                           signed_callback)
from werkzeug.serving import make_server


@pytest.fixture
def served_shop(sandbox: PaymentSandbox, engine: Engine) -> Iterator[tuple[str, Flask, Payments]]:
    """A Flask shop on a real port, its callback URLs on it."""
    app = Flask(__name__)
    server = make_server("127.0.0.1", 0, app, threaded=True)
    url = f"http://127.0.0.1:{server.server_port}"
    payments = Payments(sandbox.config(callback_base_url=url), engine)
    VemratPay(app, payments)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield url, app, payments
    server.shutdown()
    thread.join()


def test_callbacks_reach_the_shop_over_http_and_through_its_test_client(
        sandbox: PaymentSandbox, served_shop: tuple[str, Flask, Payments]) -> None:
    url, app, payments = served_shop
    payment = payments.start_payment(Decimal("10.00"), currency="CNY",
                                     recipient_account="2088000000000001")
    delivered = sandbox.pay(payment)["callbacks"][-1]  # the sandbox itself, over HTTP
    assert (delivered["url"], delivered["attempts"][-1]["status"]) == (payment.callback_url, 200)
    assert sandbox.deliver_callback(payment) == Delivered(200, "ok")  # again, over HTTP

    def through_test_client(request: CallbackRequest) -> Delivered:
        response = app.test_client().post(request.path, data=request.body, headers=request.headers)
        return Delivered(response.status_code, response.get_data(as_text=True))

    assert sandbox.deliver_callback(payment, post=through_test_client) == Delivered(200, "ok")
    forged = signed_callback(payment, status="paid", sponsor_key="not-the-sponsor-key")
    assert through_test_client(forged) == Delivered(400, "invalid callback")
    assert through_test_client(signed_callback(payment, status="paid")) == Delivered(200, "ok")
    stored = payments.get(payment.reference)
    assert stored is not None and stored.status == "paid"


def test_the_pytest_fixture_runs_a_sandbox_for_the_test(tmp_path: Path) -> None:
    (tmp_path / "conftest.py").write_text('pytest_plugins = ["vemrat_pay_sqlalchemy.pytest_plugin"]\n')
    (tmp_path / "test_shop.py").write_text(textwrap.dedent("""
        import os
        import urllib.request

        def test_sandbox(payment_sandbox):
            assert os.environ["VEMRAT_PAY_BASE_URL"] == payment_sandbox.base_url
            with urllib.request.urlopen(payment_sandbox.base_url + "/sandbox/orders") as answer:
                assert answer.status == 200
            assert payment_sandbox.config().client() is not None

        def test_after(payment_sandbox):
            assert payment_sandbox.sandbox.orders() == []
    """))
    result = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "2 passed" in result.stdout
