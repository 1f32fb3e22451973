"""Callback deliveries through schedules of events: orders whose receivers answer well, with
errors, with bytes no parser takes, cut short or a byte at a time; payments, refunds and
resends; the sandbox stopped in the middle of attempts and started again on its database.
Whenever no attempt is due, every delivery has ended (delivered, or failed after the whole
retry schedule, interrupted attempts aside), its attempts are numbered in turn, and no
receiver got a request that no recorded attempt accounts for."""

from __future__ import annotations

import json
import shutil
import tempfile
from collections import Counter

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, invariant, rule

from vemrat_pay_sandbox import Sandbox
from wire import Merchant, RawReceiver, control, wait_until

RETRY_DELAYS = (0.01, 0.02)
STATUS_LINE = b"HTTP/1.1 200 OK\r\n"
ANSWERS = {
    "ok": (STATUS_LINE + b"Content-Length: 0\r\n\r\n", None),
    "error": (b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", None),
    "garbage": (b"hello\r\n", None),
    "cut short": (STATUS_LINE + b"Content-Length: 10\r\n\r\nabc", None),
    "trickle": (STATUS_LINE, 0.05),
}
INTERRUPTED = "interrupted: the sandbox stopped before the answer came"


class DeliveryDay(RuleBasedStateMachine):
    orders = Bundle("orders")

    def __init__(self) -> None:
        super().__init__()
        self.directory = tempfile.mkdtemp(prefix="vemrat-sandbox-schedules-")
        self.db = f"{self.directory}/sandbox.sqlite3"
        self.receivers = {behaviour: RawReceiver(answer, trickle=trickle).__enter__()
                          for behaviour, (answer, trickle) in ANSWERS.items()}
        self.behaviour_of: dict[str, str] = {}
        self.sandbox = self.start()

    def start(self) -> Sandbox:
        return Sandbox({"ck": "sk"}, db=self.db, retry_delays=RETRY_DELAYS,
                       callback_timeout=0.3).start()

    def teardown(self) -> None:
        self.sandbox.stop()
        for receiver in self.receivers.values():
            receiver.__exit__(None, None, None)
        shutil.rmtree(self.directory, ignore_errors=True)

    @rule(target=orders, behaviour=st.sampled_from(sorted(ANSWERS)))
    def new_order(self, behaviour):
        merchant = Merchant(self.sandbox.base_url, "ck", "sk")
        order_id = merchant.new_order(user_notify_url=self.receivers[behaviour].url)
        self.behaviour_of[order_id] = behaviour
        return order_id

    @rule(order_id=orders, action=st.sampled_from(["pay", "fail", "settle", "refund", "resend"]))
    def act(self, order_id, action):
        assert control(self.sandbox.base_url, order_id, action).status in (200, 409)

    @rule()
    def restart(self):
        # Attempts under way are cut off; the next start takes up what is left.
        self.sandbox.stop()
        self.sandbox = self.start()

    @rule(order_id=orders)
    def restart_during_an_attempt(self, order_id):
        receiver = self.receivers[self.behaviour_of[order_id]]
        before = receiver.requests
        if control(self.sandbox.base_url, order_id, "resend").status == 200:
            wait_until(lambda: receiver.requests > before)
            self.restart()

    @rule()
    def quiet(self):
        self.sandbox.wait_for_callbacks(timeout=60)
        self.check_every_delivery()

    @invariant()
    def nothing_sent_unrecorded(self):
        # Checked when no attempt is under way: a request read but not yet recorded is no fault.
        if self.sandbox.outbox.wait_idle(0):
            self.check_every_delivery()

    def check_every_delivery(self):
        attempts = Counter()
        for order_id, behaviour in self.behaviour_of.items():
            for delivery in self.sandbox.order(order_id)["callbacks"]:
                made = delivery["attempts"]
                assert [attempt["attempt"] for attempt in made] == list(range(1, len(made) + 1))
                counted = [attempt for attempt in made if attempt["error"] != INTERRUPTED]
                if behaviour == "ok":
                    # Earlier attempts may have timed out on a busy machine.
                    assert delivery["state"] == "delivered", delivery
                    assert counted[-1]["status"] == 200, delivery
                else:
                    assert delivery["state"] == "failed", delivery
                    assert len(counted) == len(RETRY_DELAYS) + 1, delivery
                    assert not any(attempt["status"] == 200 for attempt in made), delivery
                attempts[delivery["body"]] += len(made)
        received = Counter(body.decode() for receiver in self.receivers.values()
                           for body in receiver.bodies)
        for body, count in received.items():
            assert count <= attempts[body], json.loads(body)


DeliveryDay.TestCase.settings = settings(
    max_examples=15, stateful_step_count=12, deadline=None,
    suppress_health_check=[HealthCheck.too_slow])
test_delivery_schedules = DeliveryDay.TestCase
