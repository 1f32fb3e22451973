"""Fault rules on callbacks, seen at a receiver that verifies them with the real module."""

import json

import pytest

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER
from wire import CallbackReceiver, control


@pytest.fixture
def shop():
    """The merchant's notify endpoint and the module's client that verifies what arrives."""
    with CallbackReceiver() as receiver:
        yield receiver


def verified(receiver) -> list[str]:
    """The status of each callback received, in arrival order, each verified by the module."""
    client = vemrat_pay.Client("ck-one", "sk-one")
    return [client.verify_callback(body.decode(), headers[SIGNATURE_HEADER])["status"]
            for headers, body, _ in receiver.received]


def deliveries(sandbox, order_id):
    return [(d["cause"], d["state"], json.loads(d["body"])["status"])
            for d in sandbox.order(order_id)["callbacks"]]


def test_duplicate_delivers_the_same_callback_twice(sandbox, merchant, shop):
    sandbox.add_fault("duplicate", "callback", merchant="ck-one")
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    assert verified(shop) == ["paid", "paid"]
    assert shop.received[0][1] == shop.received[1][1]
    assert deliveries(sandbox, order_id) == [("event", "delivered", "paid"),
                                             ("duplicate", "delivered", "paid")]


def test_delay_holds_the_first_attempt_back(sandbox, merchant, shop):
    sandbox.add_fault("delay", "callback", seconds=3600)
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    [delivery] = sandbox.order(order_id)["callbacks"]
    assert (delivery["state"], delivery["attempts"]) == ("scheduled", [])
    assert shop.received == []


def test_a_short_delay_still_delivers(sandbox, merchant, shop):
    sandbox.add_fault("delay", "callback", seconds=0.05)
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    assert verified(shop) == ["paid"]


def test_drop_records_the_callback_and_delivers_it_only_when_resent(sandbox, merchant, shop):
    sandbox.add_fault("drop", "callback")
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    assert shop.received == []
    assert deliveries(sandbox, order_id) == [("event", "dropped", "paid")]

    assert control(sandbox.base_url, order_id, "resend").status == 200
    sandbox.wait_for_callbacks()
    assert verified(shop) == ["paid"]
    assert deliveries(sandbox, order_id) == [("event", "dropped", "paid"),
                                             ("resend", "delivered", "paid")]


def test_reorder_holds_a_callback_until_the_next_one_was_delivered(sandbox, merchant, shop):
    sandbox.add_fault("reorder", "callback")
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    assert shop.received == []
    assert deliveries(sandbox, order_id) == [("event", "held", "paid")]

    control(sandbox.base_url, order_id, "settle")
    sandbox.wait_for_callbacks()
    assert verified(shop) == ["settled", "paid"]
    assert deliveries(sandbox, order_id) == [("event", "delivered", "paid"),
                                             ("event", "delivered", "settled")]


def test_callback_rules_count_callbacks_of_their_merchant_only(sandbox, merchant, shop):
    sandbox.add_fault("drop", "callback", merchant="ck-two", count=5)
    order_id = merchant.new_order(user_notify_url=shop.url)
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    assert verified(shop) == ["paid"]
    assert [rule["count"] for rule in sandbox.faults()] == [5]
