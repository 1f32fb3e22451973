"""Helpers for testing a shop built on these integrations: a running sandbox, signed callbacks.

    from vemrat_pay_sqlalchemy.testing import PaymentSandbox

    def test_a_paid_order_ships(live_shop_url):
        with PaymentSandbox() as sandbox:
            payments = Payments(sandbox.config(callback_base_url=live_shop_url), engine)
            payment = payments.start_payment(Decimal("10.00"), currency="CNY",
                                             recipient_account="2088000000000001")
            sandbox.pay(payment)          # the payer pays; the sandbox calls the shop back
            ...

or with pytest, `pytest_plugins = ["vemrat_pay_sqlalchemy.pytest_plugin"]` and the
`payment_sandbox` fixture.

While it runs, VEMRAT_PAY_BASE_URL points at the sandbox (restored afterwards). When the
shop serves on a real port the sandbox delivers each callback itself, over HTTP, as the
service does; `deliver_callback` delivers the latest one again, or hands it to a framework's
test client (`post=`) for a shop tested without a server.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import urllib.error
import urllib.parse
import urllib.request
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Any, Protocol

from vemrat_pay_sandbox import SIGNATURE_HEADER, Sandbox, make_callback
from vemrat_pay_sandbox.payments import SandboxPayments, ShopPayment

from .config import PaymentsConfig

COMMUNITY_KEY = "test-community"
SPONSOR_KEY = "test-sponsor"


class HasPayment(ShopPayment, Protocol):
    """A payment as the helpers read it (the model, or the ledger's record)."""

    @property
    def amount(self) -> Any: ...


@dataclass(frozen=True)
class CallbackRequest:
    """A callback as the service sends it: where, the raw body, and the signature header."""

    url: str
    body: str
    headers: dict[str, str]

    @property
    def path(self) -> str:
        """The URL's path (and query), for a framework's test client."""
        parts = urllib.parse.urlsplit(self.url)
        return parts.path + (f"?{parts.query}" if parts.query else "")


@dataclass(frozen=True)
class Delivered:
    status: int
    text: str


class PaymentSandbox(SandboxPayments):
    """A running sandbox, with VEMRAT_PAY_BASE_URL pointing at it, for one test; its actions on
    the service's side of a payment are `SandboxPayments`'."""

    def __init__(self, **sandbox_options: Any) -> None:
        self.sandbox_options = {"retry_delays": (), **sandbox_options}
        self._previous_base_url: str | None = None

    def __enter__(self) -> PaymentSandbox:
        self.sandbox = Sandbox(merchants={COMMUNITY_KEY: SPONSOR_KEY}, **self.sandbox_options)
        self.sandbox.start()
        self._previous_base_url = os.environ.get("VEMRAT_PAY_BASE_URL")
        os.environ["VEMRAT_PAY_BASE_URL"] = self.sandbox.base_url
        return self

    def __exit__(self, *exc_info: object) -> None:
        if self._previous_base_url is None:
            os.environ.pop("VEMRAT_PAY_BASE_URL", None)
        else:
            os.environ["VEMRAT_PAY_BASE_URL"] = self._previous_base_url
        self.sandbox.stop()

    @property
    def base_url(self) -> str:
        return self.sandbox.base_url

    def config(self, **options: Any) -> PaymentsConfig:
        """A configuration with the sandbox's keys; `options` are the other settings."""
        return PaymentsConfig(community_key=COMMUNITY_KEY, sponsor_key=SPONSOR_KEY, **options)

    # -- callbacks ----------------------------------------------------------------------------

    def callback_request(self, payment: HasPayment) -> CallbackRequest:
        """The order's latest callback exactly as the sandbox signed it, to the payment's
        callback URL."""
        latest = self.latest_callback(payment)
        return CallbackRequest(payment.callback_url, latest["body"],
                               {SIGNATURE_HEADER: latest["signature"],
                                "Content-Type": "application/json"})

    def deliver_callback(self, payment: HasPayment,
                         post: Callable[[CallbackRequest], Delivered] | None = None) -> Delivered:
        """Delivers the order's latest callback to the shop: over HTTP to its callback URL,
        or through `post` (a framework's test client); the shop's answer."""
        request = self.callback_request(payment)
        return (post or post_over_http)(request)


def signed_callback(payment: HasPayment, *, status: str, sponsor_key: str = SPONSOR_KEY,
                    **fields: str) -> CallbackRequest:
    """A callback for the payment's order and its signature, as the service makes them;
    `fields` are its other members (order_id and amount default to the payment's)."""
    fields.setdefault("amount", f"{payment.amount:.2f}")
    fields.setdefault("order_id", payment.order_id or "")
    body, signature = make_callback(sponsor_key, status=status, **fields)
    return CallbackRequest(payment.callback_url, body,
                           {SIGNATURE_HEADER: signature, "Content-Type": "application/json"})


def post_over_http(request: CallbackRequest) -> Delivered:
    """POSTs the callback to its URL; the answer (an error status is an answer too)."""
    http_request = urllib.request.Request(request.url, data=request.body.encode("utf-8"),
                                          headers=request.headers, method="POST")
    try:
        with urllib.request.urlopen(http_request, timeout=30) as response:
            return Delivered(response.status, response.read().decode("utf-8", "replace"))
    except urllib.error.HTTPError as error:
        return Delivered(error.code, error.read().decode("utf-8", "replace"))


@contextmanager
def development_sandbox(community_key: str, sponsor_key: str) -> Iterator[str]:
    """`python -m vemrat_pay_sandbox` for a shop run by hand, with the shop's keys, unless
    VEMRAT_PAY_BASE_URL already names a service; VEMRAT_PAY_BASE_URL points at it meanwhile.
    The base URL in force. Meanwhile SIGTERM and SIGINT raise KeyboardInterrupt, so that the
    sandbox is stopped with the process however it is stopped."""
    if os.environ.get("VEMRAT_PAY_BASE_URL"):
        yield os.environ["VEMRAT_PAY_BASE_URL"]
        return
    for stopping in (signal.SIGTERM, signal.SIGINT):
        signal.signal(stopping, interrupt)
    process = subprocess.Popen([sys.executable, "-m", "vemrat_pay_sandbox", "--merchant",
                                f"{community_key}:{sponsor_key}"], stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout is not None
        os.environ["VEMRAT_PAY_BASE_URL"] = base_url = process.stdout.readline().strip()
        print(f"sandbox: {base_url}/sandbox/", flush=True)
        yield base_url
    finally:
        os.environ.pop("VEMRAT_PAY_BASE_URL", None)
        process.terminate()
        process.wait()


def interrupt(signum: int, frame: object) -> None:
    raise KeyboardInterrupt
