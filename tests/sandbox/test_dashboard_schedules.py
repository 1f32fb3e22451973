"""The dashboard's views through schedules of a day's events: orders created by two merchants,
moved through their states, callbacks delivered, dropped and held by rules. After every step,
a view drawn at random (merchant, state, part of a URL) lists exactly the orders the sandbox's
own records select, newest first, and the version the live script polls has moved with every
change."""

from __future__ import annotations

import urllib.parse

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, multiple, rule
from html_tree import parse

from vemrat_pay_sandbox import Sandbox
from wire import CallbackReceiver, Merchant, control, exchange

MERCHANTS = {"ck-one": "sk-one", "ck-two": "sk-two"}
STATES = ["pending", "paid", "failed", "expired", "settled", "refunded", "callback-delivered",
          "callback-dropped", "callback-held", "callback-failed", "callback-scheduled"]
# Text of URLs: letters in both cases, the LIKE wildcards and what HTML would take as markup.
URL_TEXT = st.text(alphabet="aAbB09_%<>&'\"é", min_size=1, max_size=6)


def selected(record, merchant, state, text):
    latest = record["callbacks"][-1]["state"] if record["callbacks"] else ""
    in_state = {"pending": record["pay_status"] == 0, "paid": record["pay_status"] == 1,
                "failed": record["pay_status"] == 2, "expired": record["pay_status"] == 3,
                "settled": record["settle_status"] == 1, "refunded": record["refund_status"] == 1,
                }.get(state, latest == state.removeprefix("callback-")) if state else True
    # Letters match in any case (ASCII only, as SQLite's LIKE does).
    found = not text or any(_fold(text) in _fold(record[name]) for name in
                            ("order_id", "user_notify_url", "return_url"))
    return (not merchant or record["community_key"] == merchant) and in_state and found


def _fold(text):
    return "".join(char.lower() if char.isascii() else char for char in text)


class DashboardDay(RuleBasedStateMachine):
    orders = Bundle("orders")

    def __init__(self) -> None:
        super().__init__()
        self.sandbox = Sandbox(MERCHANTS, retry_delays=()).start()
        self.shop = CallbackReceiver().__enter__()
        self.merchants = {key: Merchant(self.sandbox.base_url, key, secret)
                          for key, secret in MERCHANTS.items()}
        self.texts: list[str] = []
        self.seen_version = self.version()
        self.changed = False

    def teardown(self) -> None:
        self.sandbox.stop()
        self.shop.__exit__(None, None, None)

    def version(self) -> bytes:
        return exchange(f"{self.sandbox.base_url}/sandbox/dashboard/version").body

    def new_order(self, merchant, text, with_return):
        self.texts.append(text)
        self.changed = True
        return self.merchants[merchant].new_order(
            user_notify_url=f"{self.shop.url}/{urllib.parse.quote(text)}",
            return_url=f"http://shop.example/{text}" if with_return else None)

    @initialize(target=orders, first=st.lists(
        st.tuples(st.sampled_from(list(MERCHANTS)), URL_TEXT, st.booleans()), min_size=2, max_size=6))
    def open_the_day(self, first):
        return multiple(*(self.new_order(*order) for order in first))

    @rule(target=orders, merchant=st.sampled_from(list(MERCHANTS)), text=URL_TEXT,
          with_return=st.booleans())
    def create(self, merchant, text, with_return):
        return self.new_order(merchant, text, with_return)

    @rule(order_id=orders, action=st.sampled_from(["pay", "fail", "expire", "settle", "refund"]))
    def act(self, order_id, action):
        answer = control(self.sandbox.base_url, order_id, action)
        assert answer.status in (200, 409), answer.body
        self.changed |= answer.status == 200

    @rule(fault=st.sampled_from(["drop", "reorder"]))
    def add_rule(self, fault):
        self.sandbox.add_fault(fault, "callback")
        self.changed = True

    @rule()
    def clear_rules(self):
        self.sandbox.clear_faults()
        self.changed = True

    @rule(merchant=st.sampled_from(["", "", *MERCHANTS]), state=st.sampled_from(["", "", *STATES]),
          text=st.sampled_from(["", "a", "_", "%", "A_", "<", "é"]) | URL_TEXT, data=st.data())
    def look(self, merchant, state, text, data):
        if data.draw(st.booleans()):
            text = data.draw(st.sampled_from(self.texts))
        self.sandbox.wait_for_callbacks()
        records = [self.sandbox.order(order["order_id"]) for order in reversed(self.sandbox.orders())]
        expected = [record["order_id"] for record in records
                    if selected(record, merchant, state, text)]
        query = urllib.parse.urlencode({"merchant": merchant, "state": state, "q": text})
        tree = parse(exchange(f"{self.sandbox.base_url}/sandbox/?{query}").body.decode())
        assert [row.get("id") for row in tree.find("tbody").find_all("tr")] == expected
        # The text box shows what was searched for, as text.
        assert tree.find("input", id="filter-text").get("value") == text.strip()

    @invariant()
    def the_version_moves_with_every_change(self):
        self.sandbox.wait_for_callbacks()
        current = self.version()
        if self.changed:
            assert current != self.seen_version
        self.seen_version, self.changed = current, False


DashboardDay.TestCase.settings = settings(
    max_examples=20, stateful_step_count=15, deadline=None,
    suppress_health_check=[HealthCheck.too_slow])
test_dashboard_schedules = DashboardDay.TestCase
