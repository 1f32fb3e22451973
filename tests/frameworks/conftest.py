"""Fixtures of the FastAPI, Flask and SQLAlchemy integrations' tests: databases (SQLite, and a
PostgreSQL server started once per session), a sandbox, the payments service, and the
announcements it makes."""

from __future__ import annotations

import importlib.util
import socket
import sys
import threading
import uuid
from collections.abc import Iterator
from pathlib import Path
from types import ModuleType

import pytest
from sqlalchemy import Engine, create_engine, text
from vemrat_pay_sqlalchemy import Payment, Payments
from vemrat_pay_sqlalchemy.events import EVENTS
from vemrat_pay_sqlalchemy.migrations import upgrade
from vemrat_pay_sqlalchemy.testing import PaymentSandbox


def load_module(path: Path) -> ModuleType:
    """A helper module of another test folder, without putting that folder on sys.path."""
    spec = importlib.util.spec_from_file_location(path.stem, path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[path.stem] = module
    spec.loader.exec_module(module)
    return module


PostgresServer = load_module(Path(__file__).resolve().parent.parent / "django_app"
                             / "postgres_server.py").PostgresServer

TEMPLATE = "payments_template"


@pytest.fixture(scope="session")
def postgres() -> Iterator[PostgresServer]:
    """One PostgreSQL server for the session, with a template database already migrated."""
    with PostgresServer() as server:
        admin = create_engine(f"postgresql+psycopg://postgres@127.0.0.1:{server.port}/postgres",
                              isolation_level="AUTOCOMMIT")
        with admin.connect() as connection:
            connection.execute(text(f"CREATE DATABASE {TEMPLATE}"))
        template = create_engine(server_url(server, TEMPLATE))
        upgrade(template)
        template.dispose()
        server.admin = admin  # type: ignore[attr-defined]
        yield server
        admin.dispose()


def server_url(server: PostgresServer, database: str) -> str:
    return f"postgresql+psycopg://postgres@127.0.0.1:{server.port}/{database}"


def fresh_postgres_database(server: PostgresServer) -> str:
    """A new database, migrated (a copy of the template); its URL."""
    name = f"payments_{uuid.uuid4().hex[:12]}"
    with server.admin.connect() as connection:  # type: ignore[attr-defined]
        connection.execute(text(f"CREATE DATABASE {name} TEMPLATE {TEMPLATE}"))
    return server_url(server, name)


@pytest.fixture(params=["sqlite", "postgresql"])
def engine(request: pytest.FixtureRequest, tmp_path: Path) -> Iterator[Engine]:
    """A migrated database of each kind, new for the test."""
    if request.param == "sqlite":
        created = create_engine(f"sqlite:///{tmp_path / 'payments.sqlite3'}")
        upgrade(created)
    else:
        created = create_engine(fresh_postgres_database(request.getfixturevalue("postgres")),
                                pool_size=20)
    yield created
    created.dispose()


@pytest.fixture
def postgres_engine(postgres: PostgresServer) -> Iterator[Engine]:
    created = create_engine(fresh_postgres_database(postgres), pool_size=20)
    yield created
    created.dispose()


@pytest.fixture
def sandbox() -> Iterator[PaymentSandbox]:
    with PaymentSandbox() as running:
        yield running


class Announced:
    """Every announcement of a payments service, from any thread: (event, reference, status)."""

    def __init__(self, payments: Payments) -> None:
        self._lock = threading.Lock()
        self.received: list[tuple[str, uuid.UUID, str]] = []
        for name in EVENTS:
            payments.events.connect(name, self.receiver(name))

    def receiver(self, name: str):  # type: ignore[no-untyped-def]
        def receive(payment: Payment) -> None:
            with self._lock:
                self.received.append((name, payment.reference, payment.status))
        return receive

    def of(self, payment: Payment) -> list[str]:
        with self._lock:
            return [name for name, reference, _ in self.received if reference == payment.reference]


@pytest.fixture(scope="session")
def nowhere() -> Iterator[str]:
    """An origin where nothing listens: connections are refused at once. Its port stays
    taken (bound, never listening) for the session."""
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        yield f"http://127.0.0.1:{holder.getsockname()[1]}"


@pytest.fixture
def payments(sandbox: PaymentSandbox, engine: Engine, nowhere: str) -> Payments:
    """The service on each database; the sandbox's own deliveries go nowhere, and tests hand
    callbacks over themselves."""
    return Payments(sandbox.config(callback_base_url=nowhere), engine)


@pytest.fixture
def announced(payments: Payments) -> Announced:
    return Announced(payments)
