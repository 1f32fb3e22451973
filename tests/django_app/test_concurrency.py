"""Two workers at the same payment on PostgreSQL: they take turns and announce once.

A third connection holds the payment's row while two workers start; once PostgreSQL shows
both waiting for that row, it lets go, and they meet exactly where real ones would.
"""

from __future__ import annotations

import io
import threading
import time
import urllib.error
import urllib.request
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from decimal import Decimal
from typing import Any

import psycopg
import pytest
from django.core.management import call_command
from django.db import connection, connections
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements

Outcome = CallbackEvent.Outcome

pytestmark = [pytest.mark.postgresql, pytest.mark.django_db(transaction=True)]


def database() -> psycopg.Connection[Any]:
    settings = connection.settings_dict
    return psycopg.connect(host=settings["HOST"], port=settings["PORT"], user=settings["USER"],
                           dbname=settings["NAME"], autocommit=True)


@contextmanager
def row_held(payment: Payment) -> Iterator[Callable[[int], None]]:
    """Holds the payment's row (as a worker in the middle of a change would) until the block
    ends; yields a function that waits until that many other sessions wait for a lock."""
    with database() as holder, database() as observer:
        holder.execute("BEGIN")
        # Not a key lock: recording a callback event (a foreign key to the row) goes on.
        holder.execute("SELECT id FROM vemrat_pay_payment WHERE id = %s FOR NO KEY UPDATE",
                       [payment.pk])

        def wait_for_waiters(count: int) -> None:
            for _ in range(3000):
                # The first waits for the holder, the next for the first: all for the row.
                waiting = observer.execute(
                    "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                    "AND wait_event_type = 'Lock'").fetchone()
                if waiting is not None and waiting[0] >= count:
                    return
                time.sleep(0.01)  # polling PostgreSQL's view of the locks, bounded above
            raise AssertionError(f"{count} sessions never waited for the payment's row")

        yield wait_for_waiters
        holder.execute("ROLLBACK")


def in_thread(work: Callable[[], Any]) -> Callable[[], Any]:
    """Runs `work` in a new thread; the returned function joins it and gives its result."""
    results: list[Any] = []

    def run() -> None:
        try:
            results.append(work())
        except BaseException as error:  # handed to the joining test
            results.append(error)
        finally:
            connections.close_all()

    thread = threading.Thread(target=run)
    thread.start()

    def join() -> Any:
        thread.join(timeout=60)
        assert results, "the worker did not finish"
        if isinstance(results[0], BaseException):
            raise results[0]
        return results[0]
    return join


def deliver_over_http(url: str, body: str, signature: str) -> int:
    request = urllib.request.Request(url, data=body.encode(), method="POST", headers={
        "Content-Type": "application/json", "X-Vemrat-Signature": signature})
    try:
        with urllib.request.urlopen(request, timeout=30) as response:
            return int(response.status)
    except urllib.error.HTTPError as error:
        return error.code


def start_and_pay(payments: PaymentSandbox) -> tuple[Payment, dict[str, Any]]:
    payment = start_payment(Decimal("42.00"), currency="CNY", recipient_account="2088000000000001")
    callback: dict[str, Any] = payments.pay(payment)["callbacks"][-1]
    return payment, callback


def test_two_deliveries_of_one_callback_at_once(payments: PaymentSandbox, live_server: Any,
                                                announced: Announcements) -> None:
    payment, callback = start_and_pay(payments)
    url = live_server.url + payment.callback_url.removeprefix(payments.callback_base_url)
    with row_held(payment) as wait_for_waiters:
        workers = [in_thread(lambda: deliver_over_http(url, callback["body"], callback["signature"]))
                   for _ in range(2)]
        wait_for_waiters(2)
    assert [join() for join in workers] == [200, 200]
    payment.refresh_from_db()
    assert payment.status == Payment.Status.PAID
    assert announced.of(payment) == ["paid"]
    assert sorted(event.outcome for event in payment.callback_events.all()) == [
        Outcome.CHANGED, Outcome.UNCHANGED]


def test_a_callback_racing_a_reconcile(payments: PaymentSandbox, live_server: Any,
                                       announced: Announcements) -> None:
    payment, callback = start_and_pay(payments)
    url = live_server.url + payment.callback_url.removeprefix(payments.callback_base_url)
    output = io.StringIO()
    with row_held(payment) as wait_for_waiters:
        delivery = in_thread(lambda: deliver_over_http(url, callback["body"], callback["signature"]))
        reconcile = in_thread(lambda: call_command("vemrat_pay_reconcile", "--older-than", "0",
                                                   stdout=output))
        wait_for_waiters(2)
    assert delivery() == 200
    reconcile()
    payment.refresh_from_db()
    assert payment.status == Payment.Status.PAID
    assert announced.of(payment) == ["paid"]
    event = payment.callback_events.get()
    reconciled = output.getvalue().splitlines()[0]
    # Whichever came second found nothing left to do.
    assert sorted([event.outcome, reconciled.split()[2].rstrip(":")]) == ["changed", "unchanged"]
