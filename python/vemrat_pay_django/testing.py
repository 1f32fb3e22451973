"""Helpers for testing a shop built on this app: an in-process sandbox and signed callbacks.

    from vemrat_pay_django.testing import PaymentSandbox

    class CheckoutTests(TestCase):
        def setUp(self):
            self.payments = self.enterContext(PaymentSandbox())

        def test_a_paid_order_is_shipped(self):
            payment = start_payment(Decimal("10.00"), currency="CNY",
                                    recipient_account="2088000000000001",
                                    request=RequestFactory().get("/"))
            self.payments.pay(payment)  # the payer pays on the service's side
            response = self.payments.deliver_callback(payment)  # its callback reaches the view
            self.assertEqual(response.status_code, 200)
            ...

or as a pytest fixture: `with PaymentSandbox() as payments: yield payments`.

While it runs, VEMRAT_PAY_BASE_URL points at the sandbox and VEMRAT_PAY holds the sandbox's
keys. Without `callback_base_url` the sandbox's own callback deliveries go nowhere and
`deliver_callback` hands them to the callback view through Django's test client; with a
live server's URL (`callback_base_url=self.live_server_url`) the sandbox delivers them
itself, over HTTP, as the service does. Each action returns once the callbacks it caused
have been tried; a delivery that fails is not retried unless `retry_delays` is given.
"""

from __future__ import annotations

import os
import socket
import threading
from contextlib import ExitStack
from typing import Any
from unittest import mock

from django.http.response import HttpResponseBase
from django.test import Client, override_settings
from django.urls import reverse
from vemrat_pay_sandbox import Sandbox, make_callback
from vemrat_pay_sandbox.payments import SandboxPayments

from .conf import configured, get_setting
from .models import Payment

COMMUNITY_KEY = "test-community"
SPONSOR_KEY = "test-sponsor"


class PaymentSandbox(SandboxPayments):
    """A running sandbox with this app configured for it, for the duration of a test; its
    actions on the service's side of a payment are `SandboxPayments`'."""

    def __init__(self, *, callback_base_url: str | None = None, **sandbox_options: Any) -> None:
        self.callback_base_url = callback_base_url
        self.sandbox_options = {"retry_delays": (), **sandbox_options}
        self._stack = ExitStack()

    def __enter__(self) -> PaymentSandbox:
        with ExitStack() as stack:
            if self.callback_base_url is None:
                self.callback_base_url = unreachable_origin(stack)
            self.sandbox = stack.enter_context(
                Sandbox(merchants={COMMUNITY_KEY: SPONSOR_KEY}, **self.sandbox_options))
            stack.enter_context(override_settings(VEMRAT_PAY={
                **configured(), "COMMUNITY_KEY": COMMUNITY_KEY, "SPONSOR_KEY": SPONSOR_KEY,
                "CALLBACK_BASE_URL": self.callback_base_url}))
            stack.enter_context(mock.patch.dict(os.environ,
                                                {"VEMRAT_PAY_BASE_URL": self.sandbox.base_url}))
            self._stack = stack.pop_all()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stack.close()

    # -- callbacks --------------------------------------------------------------------------

    def deliver_callback(self, payment: Payment, client: Client | None = None) -> HttpResponseBase:
        """Delivers the order's latest callback, exactly as the sandbox signed it, to the
        callback view through Django's test client; the view's response."""
        latest = self.latest_callback(payment)
        return post_callback(payment, latest["body"], latest["signature"], client)


def signed_callback(payment: Payment, *, status: str, sponsor_key: str = SPONSOR_KEY,
                    **fields: str) -> tuple[str, str]:
    """A callback body for the payment's order and its signature, as the service makes them;
    `fields` are its other members (order_id and amount default to the payment's)."""
    fields.setdefault("amount", f"{payment.amount:.2f}")
    fields.setdefault("order_id", payment.order_id or "")
    return make_callback(sponsor_key, status=status, **fields)


def post_callback(payment: Payment, body: str | bytes, signature: str | None,
                  client: Client | None = None) -> HttpResponseBase:
    """POSTs a callback body (with the signature header, unless None) to the payment's
    callback view through Django's test client; the view's response."""
    headers = {} if signature is None else {get_setting("SIGNATURE_HEADER"): signature}
    return (client or Client()).post(reverse("vemrat_pay:callback", args=[payment.reference]),
                                     body, content_type="application/json", headers=headers)


class SilentService:
    """A payment service that accepts connections and never answers, for the timeout path:

        with SilentService() as silent, mock.patch.dict(os.environ,
                                                        {"VEMRAT_PAY_BASE_URL": silent.base_url}):
            ...  # with a short socket.setdefaulttimeout

    `connections` lists the connections it accepted.
    """

    def __init__(self) -> None:
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.connections: list[socket.socket] = []
        self.base_url = f"http://127.0.0.1:{self._listener.getsockname()[1]}"
        self._thread = threading.Thread(target=self._accept, name="silent-service", daemon=True)

    def _accept(self) -> None:
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:  # closed: the end
                return
            self.connections.append(connection)

    def __enter__(self) -> SilentService:
        self._thread.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._listener.shutdown(socket.SHUT_RDWR)
        self._listener.close()
        self._thread.join()
        for connection in self.connections:
            connection.close()


def unreachable_origin(stack: ExitStack) -> str:
    """An origin on this machine where nothing listens: connections to it are refused at
    once. Its port stays taken (bound, never listening) until `stack` closes."""
    port_holder = stack.enter_context(socket.socket())
    port_holder.bind(("127.0.0.1", 0))
    return f"http://127.0.0.1:{port_holder.getsockname()[1]}"
