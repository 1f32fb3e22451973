"""Fixtures of the app's suite: a sandbox, live deliveries, the signals sent."""

from __future__ import annotations

import socket
import threading
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

import django
import pytest
from django.conf import settings
from django.db import transaction
from vemrat_pay_django import signals
from vemrat_pay_django.models import Payment
from vemrat_pay_django.testing import PaymentSandbox, SilentService

from spoiling_proxy import SpoilingProxy


def pytest_collection_modifyitems(config: pytest.Config, items: list[pytest.Item]) -> None:
    if settings.DATABASES["default"]["ENGINE"] == "django.db.backends.postgresql":
        return
    skip = pytest.mark.skip(reason="needs PostgreSQL's row locks: run.py --database=postgresql")
    for item in items:
        if "postgresql" in item.keywords:
            item.add_marker(skip)


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "postgresql: a case that needs a PostgreSQL server")


@pytest.fixture
def payments(transactional_db: None) -> Iterator[PaymentSandbox]:
    """A sandbox; callbacks reach the app through Django's test client (deliver_callback)."""
    with PaymentSandbox() as sandbox:
        yield sandbox


@pytest.fixture
def live_payments(live_server: Any) -> Iterator[PaymentSandbox]:
    """A sandbox that delivers its callbacks itself, over HTTP, to the app on a live server."""
    with PaymentSandbox(callback_base_url=live_server.url) as sandbox:
        yield sandbox


@dataclass(frozen=True)
class Announcement:
    transition: str
    reference: str
    status: str  # the payment's status as the receiver saw it
    in_transaction: bool  # whether it was sent before the change was committed


class Announcements:
    """Every signal the app sends while a test runs, from any thread."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self.received: list[Announcement] = []

    def receiver(self, transition: str) -> Any:
        def receive(sender: type[Payment], payment: Payment, **kwargs: Any) -> None:
            assert sender is Payment
            seen = Announcement(transition, str(payment.reference), payment.status,
                                transaction.get_connection().in_atomic_block)
            with self._lock:
                self.received.append(seen)
        return receive

    def of(self, payment: Payment) -> list[str]:
        with self._lock:
            return [seen.transition for seen in self.received if seen.reference == str(payment.reference)]


@pytest.fixture
def announced() -> Iterator[Announcements]:
    recorder = Announcements()
    receivers = {name: recorder.receiver(name) for name in signals.BY_TRANSITION}
    for name, receive in receivers.items():
        signals.BY_TRANSITION[name].connect(receive, weak=False)
    yield recorder
    for name, receive in receivers.items():
        signals.BY_TRANSITION[name].disconnect(receive)


@pytest.fixture
def silent_service(monkeypatch: pytest.MonkeyPatch) -> Iterator[SilentService]:
    """VEMRAT_PAY_BASE_URL at a service that never answers, with a short socket timeout."""
    previous = socket.getdefaulttimeout()
    socket.setdefaulttimeout(0.3)
    with SilentService() as service:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", service.base_url)
        yield service
    socket.setdefaulttimeout(previous)


@pytest.fixture
def unreachable_service(monkeypatch: pytest.MonkeyPatch) -> Iterator[None]:
    """VEMRAT_PAY_BASE_URL at a port where nothing listens."""
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", f"http://127.0.0.1:{holder.getsockname()[1]}")
        yield


@pytest.fixture
def proxy(payments: PaymentSandbox, monkeypatch: pytest.MonkeyPatch) -> Iterator[SpoilingProxy]:
    """The sandbox behind a proxy that spoils the answers it is told to (`spoil`)."""
    with SpoilingProxy(payments.sandbox.base_url) as spoiling:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", spoiling.base_url)
        yield spoiling


# The ledger's state machine runs under the newest Django only: it tests the ledger and the ORM
# storage, which Django 5.2 runs the same way, and it is the slowest test of the suite.
collect_ignore = ["test_ledger_states.py"] if django.VERSION[:2] == (5, 2) else []
