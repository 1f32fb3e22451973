"""A state machine over the ledger and the real sandbox, for any storage adapter.

Hypothesis draws schedules: payments started with the create call answered, refused by the
service, or spoiled after the service stored the order (a proxy's 502, an answer cut short,
the connection dropped); the payer paying, failing or letting the order expire; settle and
refund; the callbacks of all that delivered, duplicated, delayed, reordered, dropped, forged,
replayed to another payment's URL, or two at the same time; the status query spoiled; and
reconcile runs. After the schedule, the service's retries (each order's latest callback to
its own URL) and a final reconcile, it checks what must hold whatever the schedule:

- each payment's status is the service's truth about its own order, or it is held for review
  (visibly), or no evidence of its order ever reached the shop;
- every announced transition was announced once, and is true of the payment's own order;
- no payment holds an order that is not its own;
- every callback request is recorded.

An adapter's suite gives it a `Harness` (see the Django one in tests/django_app). The number
of schedules: LEDGER_STATES_EXAMPLES (default 25) of up to LEDGER_STATES_STEPS (default 30)
steps each, for example `LEDGER_STATES_EXAMPLES=400 python tests/django_app/run.py
--database=postgresql test_ledger_states.py`.
"""

from __future__ import annotations

import os
import threading
import uuid
from collections import Counter
from dataclasses import dataclass
from decimal import Decimal
from typing import Any, Protocol

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule
from vemrat_pay_sandbox import Sandbox
from vemrat_pay_sandbox.states import Conflict

from spoiling_proxy import CREATE_PATH, QUERY_PATH, SpoilingProxy

AMOUNTS = ("10.00", "10.00", "20.00")  # so that payments without an order id share amounts
# How a create call goes: answered, or each way it can go wrong (with where the order is).
CREATES = {
    "answered": None,
    "refused": ("sandbox", "error", 400),  # the service refuses: no order
    "503 before storing": ("sandbox", "error", 503),  # no order
    "dropped after storing": ("sandbox", "timeout_after_commit", 0),
    "502 after storing": ("proxy", "502"),
    "cut short after storing": ("proxy", "cut"),
}
ACTIONS = ("pay", "pay", "fail", "expire", "settle", "refund")  # paying most often
# Creates that leave a payment without its order id while the service stored one are the
# schedules where money state goes wrong; they are drawn most often.
CREATE_DRAWS = ("answered", "refused", "503 before storing", "dropped after storing",
                "dropped after storing", "502 after storing", "502 after storing",
                "cut short after storing")
PAY_STATUS = {0: "pending", 1: "paid", 2: "failed", 3: "expired"}


def schedules() -> settings:
    return settings(max_examples=int(os.environ.get("LEDGER_STATES_EXAMPLES", "25")),
                    stateful_step_count=int(os.environ.get("LEDGER_STATES_STEPS", "30")),
                    deadline=None, database=None,
                    suppress_health_check=list(HealthCheck))


@dataclass(frozen=True)
class Seen:
    """A payment as the shop holds it."""

    reference: str
    status: str
    order_id: str | None
    held_order_id: str
    callback_url: str
    settled: bool
    refunded: bool


class Harness(Protocol):
    """What the machine needs of an adapter, with the sandbox behind `proxy`."""

    sandbox: Sandbox
    proxy: SpoilingProxy

    def reset(self) -> None:
        """Forget every payment, callback event and announcement."""

    def start(self, amount: Decimal, reference: uuid.UUID) -> None: ...

    def deliver(self, reference: str, body: str | bytes, signature: str) -> int:
        """POST a callback to the payment's callback URL (from any thread); the HTTP status."""

    def reconcile(self) -> None:
        """Refresh every payment that is due, with nothing too recent to be due."""

    def payments(self) -> list[Seen]: ...

    def announcements(self) -> list[tuple[str, str]]:
        """(reference, transition) of every announcement so far, in order."""

    def recorded_callbacks(self) -> int: ...


class LedgerStates(RuleBasedStateMachine):
    harness: Harness  # set by the adapter's subclass

    def __init__(self) -> None:
        super().__init__()
        self.harness.reset()
        self.harness.sandbox.clear_faults()
        self.references: list[str] = []
        self.refused: set[str] = set()  # payments whose create the service itself refused
        self.sent: list[tuple[str, str, str]] = []  # (order's payment, body, signature)
        self.deliveries = 0
        self._lock = threading.Lock()

    # -- the sandbox's view --------------------------------------------------------------

    def own_order(self, reference: str) -> dict[str, Any] | None:
        """The sandbox's order created for the payment (by its callback URL), if any."""
        for record in self.harness.sandbox.orders():
            if record["user_notify_url"].rstrip("/").endswith(reference):
                return self.harness.sandbox.order(record["order_id"])
        return None

    # -- rules ---------------------------------------------------------------------------

    @initialize(creates=st.lists(st.sampled_from(CREATE_DRAWS), min_size=2, max_size=2),
                amounts=st.lists(st.sampled_from(AMOUNTS), min_size=2, max_size=2))
    def first_payments(self, creates: list[str], amounts: list[str]) -> None:
        for create, amount in zip(creates, amounts, strict=True):
            self.start_payment(create, amount)

    @precondition(lambda self: len(self.references) < 6)
    @rule(create=st.sampled_from(CREATE_DRAWS), amount=st.sampled_from(AMOUNTS))
    def start_payment(self, create: str, amount: str) -> None:
        fault = CREATES[create]
        if fault is not None and fault[0] == "sandbox":
            if fault[1] == "error":
                self.harness.sandbox.add_fault("error", "payment", status=fault[2],
                                               detail="refused by the schedule")
            else:
                self.harness.sandbox.add_fault(str(fault[1]), "payment", seconds=fault[2])
        elif fault is not None:
            self.harness.proxy.spoil(CREATE_PATH, str(fault[1]))
        reference = uuid.uuid4()
        self.harness.start(Decimal(amount), reference)
        self.references.append(str(reference))
        if create == "refused":
            self.refused.add(str(reference))

    @rule(data=st.data(), action=st.sampled_from(ACTIONS))
    def service_acts(self, data: st.DataObject, action: str) -> None:
        """The payer or the merchant moves a payment's order at the service."""
        with_orders = [reference for reference in self.references if self.own_order(reference)]
        if not with_orders:
            return
        reference = data.draw(st.sampled_from(with_orders))
        order = self.own_order(reference)
        assert order is not None
        try:
            self.harness.sandbox.service.apply(order["order_id"], action)
        except Conflict:
            return
        self.harness.sandbox.wait_for_callbacks()
        latest = self.harness.sandbox.order(order["order_id"])["callbacks"][-1]
        self.sent.append((reference, latest["body"], latest["signature"]))

    def deliver(self, reference: str, body: str | bytes, signature: str) -> int:
        status = self.harness.deliver(reference, body, signature)
        with self._lock:
            self.deliveries += 1
        return status

    @precondition(lambda self: self.sent)
    @rule(data=st.data(), spoiled_query=st.sampled_from([None, "502", "cut"]))
    def deliver_a_callback(self, data: st.DataObject, spoiled_query: str | None) -> None:
        """Any callback sent so far, at any time: late, again, out of order."""
        reference, body, signature = data.draw(st.sampled_from(self.sent))
        if spoiled_query:
            self.harness.proxy.spoil(QUERY_PATH, spoiled_query)
        status = self.deliver(reference, body, signature)
        self.harness.proxy.clear()  # a rule the callback did not use
        assert status in (200, 503), status

    @precondition(lambda self: self.sent)
    @rule(data=st.data(), how=st.sampled_from(["replayed", "replayed", "replayed",
                                               "bad signature", "no JSON", "huge"]))
    def callback_to_another_url(self, data: st.DataObject, how: str) -> None:
        """A genuine callback replayed to any payment's URL, or a forged one."""
        owner, body, signature = data.draw(st.sampled_from(self.sent))
        reference = data.draw(st.sampled_from([other for other in self.references
                                               if other != owner] or self.references))
        if how == "replayed":
            self.deliver(reference, body, signature)
            return
        body = {"bad signature": body, "no JSON": "paid",
                "huge": '{"status":"paid","x":"' + "x" * 100_000 + '"}'}[how]
        assert self.deliver(reference, body, "forged") == 400

    @precondition(lambda self: self.sent)
    @rule(data=st.data())
    def two_deliveries_at_once(self, data: st.DataObject) -> None:
        first = data.draw(st.sampled_from(self.sent))
        second = data.draw(st.sampled_from(self.sent))
        statuses: list[int] = []
        threads = [threading.Thread(target=lambda c=callback: statuses.append(self.deliver(*c)))
                   for callback in (first, second)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=60)
        assert len(statuses) == 2 and set(statuses) <= {200, 400, 503}, statuses

    @rule()
    def reconcile(self) -> None:
        self.harness.reconcile()

    # -- what holds at every step ----------------------------------------------------------

    @invariant()
    def announced_once_and_truly(self) -> None:
        announced = self.harness.announcements()
        twice = [seen for seen, count in Counter(announced).items() if count > 1]
        assert not twice, f"announced more than once: {twice}"
        for reference, transition in announced:
            assert transition in self.true_transitions(reference), (
                f"{transition} announced for {reference}, whose own order is "
                f"{self.own_order(reference)}")

    @invariant()
    def every_order_is_its_payments(self) -> None:
        for payment in self.harness.payments():
            if payment.order_id:
                order = self.harness.sandbox.order(payment.order_id)
                assert order["user_notify_url"] == payment.callback_url, (
                    f"payment {payment.reference} holds order {payment.order_id}, "
                    f"created for {order['user_notify_url']}")

    @invariant()
    def every_callback_is_recorded(self) -> None:
        with self._lock:
            assert self.harness.recorded_callbacks() == self.deliveries

    def true_transitions(self, reference: str) -> set[str]:
        order = self.own_order(reference)
        true = {"failed"} if reference in self.refused else set()
        if order is not None:
            status = PAY_STATUS[order["pay_status"]]
            true |= {status} - {"pending"}
            true |= {"settled"} if order["settle_status"] == 1 else set()
            true |= {"refunded"} if order["refund_status"] == 1 else set()
        return true

    # -- after the schedule ----------------------------------------------------------------

    def teardown(self) -> None:
        self.harness.proxy.clear()
        self.harness.sandbox.clear_faults()
        # The service's retries: each order's latest callback reaches its own URL at last.
        latest: dict[str, tuple[str, str, str]] = {}
        for callback in self.sent:
            latest[callback[0]] = callback
        for callback in latest.values():
            self.deliver(*callback)
        self.harness.reconcile()
        self.announced_once_and_truly()
        self.every_order_is_its_payments()
        self.every_callback_is_recorded()
        announced = Counter(reference for reference, _ in self.harness.announcements())
        for payment in self.harness.payments():
            order = self.own_order(payment.reference)
            if payment.held_order_id:
                assert payment.order_id is None and payment.status in ("creating", "unconfirmed", "failed")
                continue
            if order is None:  # refused, or lost before the service stored it
                assert payment.order_id is None
                assert payment.status == ("failed" if payment.reference in self.refused
                                          else "unconfirmed"), payment
                continue
            if payment.order_id is None:
                # No evidence of its order ever reached the shop: the order saw no action.
                assert not order["callbacks"], (payment, order)
                assert payment.status == "unconfirmed" and not announced[payment.reference]
                continue
            truth = PAY_STATUS[order["pay_status"]]
            assert (payment.status, payment.settled, payment.refunded) == (
                truth, order["settle_status"] == 1, order["refund_status"] == 1), (payment, order)
            owed = {truth} - {"pending"} | ({"settled"} if payment.settled else set()) | (
                {"refunded"} if payment.refunded else set())
            got = {transition for reference, transition in self.harness.announcements()
                   if reference == payment.reference}
            assert owed <= got, f"{payment.reference}: {owed - got} never announced"
