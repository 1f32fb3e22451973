"""KEEP_ALIVE: the app installs the keep-alive opener at start-up, for the base URL in force,
and the app's requests to the service then share one connection."""

from __future__ import annotations

import socket
import urllib.request
from collections.abc import Callable, Iterator
from decimal import Decimal
from typing import Any

import pytest
from django.apps import apps
from vemrat_pay_django.apps import VemratPayConfig
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.testing import PaymentSandbox
from vemrat_pay_keepalive import Origin

pytestmark = pytest.mark.django_db(transaction=True)


def pay_and_refresh(payments: PaymentSandbox) -> None:
    """A payment started, paid at the sandbox, and refreshed: two requests to the service."""
    payment = start_payment(Decimal("19.99"), currency="CNY", recipient_account="2088000000000001")
    payments.act(payment, "pay")
    assert refresh_payment(payment).status == Payment.Status.PAID


@pytest.fixture
def start_up() -> Iterator[Callable[[], VemratPayConfig]]:
    """Runs the app's start-up again, under the test's settings; undoes it afterwards."""
    config = apps.get_app_config("vemrat_pay")
    assert isinstance(config, VemratPayConfig)
    timeout = socket.getdefaulttimeout()

    def ready() -> VemratPayConfig:
        config.ready()
        return config

    yield ready
    if config.connection_pool is not None:
        config.connection_pool.close()
        del config.connection_pool
    urllib.request.install_opener(None)
    socket.setdefaulttimeout(timeout)


def test_keep_alive_installs_the_opener(payments: PaymentSandbox, settings: Any,
                                        start_up: Callable[[], VemratPayConfig]) -> None:
    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "KEEP_ALIVE": True}
    pool = start_up().connection_pool
    assert pool is not None
    assert pool.origin == Origin.of(payments.sandbox.base_url)
    pay_and_refresh(payments)
    # Both requests went through the pool, on one connection, which it keeps.
    assert payments.sandbox.server.connections_accepted == 1
    assert len(pool.idle_connections()) == 1


def test_without_keep_alive_nothing_is_installed(payments: PaymentSandbox, settings: Any,
                                                 start_up: Callable[[], VemratPayConfig]) -> None:
    assert "KEEP_ALIVE" not in settings.VEMRAT_PAY
    assert start_up().connection_pool is None
    pay_and_refresh(payments)
    assert payments.sandbox.server.connections_accepted == 2
