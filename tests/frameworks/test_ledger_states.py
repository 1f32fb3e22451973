"""The ledger's state machine (tests/ledger/ledger_states.py) through the SQLAlchemy storage
on PostgreSQL, with the same invariants as the Django app's run: the real sandbox behind a
spoiling proxy, callbacks delivered to the Flask blueprint, deliveries from two threads at
once meeting on the row locks."""

from __future__ import annotations

import os
import sys
import threading
import uuid
from collections.abc import Iterator
from datetime import timedelta
from decimal import Decimal
from pathlib import Path

import pytest
from flask import Flask
from hypothesis.stateful import run_state_machine_as_test
from sqlalchemy import Engine, func, select, text
from vemrat_pay_flask import VemratPay
from vemrat_pay_sqlalchemy import CallbackEvent, Payment, Payments
from vemrat_pay_sqlalchemy.events import TRANSITIONS
from vemrat_pay_sqlalchemy.testing import PaymentSandbox

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "ledger"))
from ledger_states import LedgerStates, Seen, schedules  # noqa: E402
from spoiling_proxy import SpoilingProxy  # noqa: E402


class SqlAlchemyHarness:
    def __init__(self, sandbox: PaymentSandbox, proxy: SpoilingProxy, engine: Engine,
                 nowhere: str) -> None:
        self.sandbox = sandbox.sandbox
        self.proxy = proxy
        self.engine = engine
        self.service = Payments(sandbox.config(callback_base_url=nowhere), engine)
        self.app = Flask(__name__)
        VemratPay(self.app, self.service)
        self._lock = threading.Lock()
        self.announced: list[tuple[str, str]] = []
        for name in TRANSITIONS:
            self.service.events.connect(name, self._receiver(name))

    def _receiver(self, transition: str):  # type: ignore[no-untyped-def]
        def receive(payment: Payment) -> None:
            with self._lock:
                self.announced.append((str(payment.reference), transition))
        return receive

    def reset(self) -> None:
        with self.engine.begin() as connection:
            connection.execute(text("TRUNCATE vemrat_pay_callback_event, vemrat_pay_payment"))
        with self._lock:
            self.announced.clear()

    def start(self, amount: Decimal, reference: uuid.UUID) -> None:
        self.service.start_payment(amount, currency="CNY", recipient_account="2088000000000001",
                                   reference=reference)

    def deliver(self, reference: str, body: str | bytes, signature: str) -> int:
        response = self.app.test_client().post(
            f"/vemrat-pay/callback/{reference}", data=body,
            headers={"X-Vemrat-Signature": signature, "Content-Type": "application/json"})
        return response.status_code

    def reconcile(self) -> None:
        self.service.reconcile(older_than=timedelta(0), limit=500, unsettled=True)

    def payments(self) -> list[Seen]:
        with self.service.sessions() as session:
            return [Seen(str(payment.reference), payment.status, payment.order_id,
                         payment.held_order_id, payment.callback_url, payment.settled,
                         payment.refunded)
                    for payment in session.scalars(select(Payment).order_by(Payment.id))]

    def announcements(self) -> list[tuple[str, str]]:
        with self._lock:
            return list(self.announced)

    def recorded_callbacks(self) -> int:
        with self.engine.connect() as connection:
            return int(connection.scalar(select(func.count()).select_from(CallbackEvent)) or 0)


@pytest.fixture
def harness(sandbox: PaymentSandbox, postgres_engine: Engine, nowhere: str,
            monkeypatch: pytest.MonkeyPatch) -> Iterator[SqlAlchemyHarness]:
    proxy = SpoilingProxy(sandbox.base_url)
    with proxy:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", proxy.base_url)
        yield SqlAlchemyHarness(sandbox, proxy, postgres_engine, nowhere)


def test_the_money_state_holds_in_every_schedule(harness: SqlAlchemyHarness) -> None:
    class SqlAlchemyLedgerStates(LedgerStates):
        pass

    SqlAlchemyLedgerStates.harness = harness
    run_state_machine_as_test(SqlAlchemyLedgerStates, settings=schedules())
