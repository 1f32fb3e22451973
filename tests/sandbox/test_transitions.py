import json
import time

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import Merchant, control, exchange, record


@pytest.mark.parametrize("steps", [
    [("pay", None, 200), ("settle", {"amount": "4"}, 200), ("refund", None, 200)],
    [("pay", None, 200), ("refund", None, 200), ("settle", None, 409)],
    [("refund", None, 409)],
    [("settle", None, 409)],
    [("fail", None, 200), ("pay", None, 409)],
    [("expire", None, 200), ("pay", None, 409), ("fail", None, 409)],
    [("pay", None, 200), ("pay", None, 409), ("fail", None, 409), ("expire", None, 409)],
    [("pay", None, 200), ("settle", None, 200), ("settle", None, 409)],
    [("pay", None, 200), ("refund", None, 200), ("refund", None, 409)],
    [("pay", None, 200), ("settle", {"amount": "10.01"}, 409), ("settle", {"amount": "10"}, 200)],
], ids=lambda steps: " ".join(step[0] for step in steps))
def test_transitions(sandbox, merchant, receiver, steps):
    order_id = merchant.new_order(amount="10", user_notify_url=receiver.url)
    sent = []
    for action, options, status in steps:
        answer = control(sandbox.base_url, order_id, action, options)
        assert answer.status == status, (action, answer.body)
        if status == 409:
            assert answer.detail
        else:
            sent.append(action)
    sandbox.wait_for_callbacks()
    callbacks = record(sandbox.base_url, order_id)["callbacks"]
    names = {"pay": "paid", "fail": "failed", "expire": "expired", "settle": "settled",
             "refund": "refunded"}
    assert [json.loads(c["body"])["status"] for c in callbacks] == [names[a] for a in sent]
    assert len(receiver.received) == len(sent)


def test_illegal_transitions_say_why(sandbox, merchant):
    order_id = merchant.new_order()
    answer = control(sandbox.base_url, order_id, "refund")
    assert (answer.status, answer.detail) == (409, "cannot refund an order that is pending")
    control(sandbox.base_url, order_id, "fail")
    answer = control(sandbox.base_url, order_id, "pay")
    assert (answer.status, answer.detail) == (409, "cannot pay an order that is failed")


def test_a_partial_settlement_is_reported(sandbox, merchant, receiver):
    order_id = merchant.new_order(amount="10", user_notify_url=receiver.url)
    control(sandbox.base_url, order_id, "pay")
    answer = control(sandbox.base_url, order_id, "settle", {"amount": "7.5"})
    assert answer.data["settle_amount"] == "7.50"
    assert merchant.query(order_id).data["settle_amount"] == "7.50"
    sandbox.wait_for_callbacks()
    assert json.loads(receiver.received[-1][1])["settle_amount"] == "7.50"


@pytest.mark.parametrize("body, detail", [
    ({"amount": 5}, 'amount must be a string such as "10.00"'),
    ({"amount": "-1"}, "invalid amount: '-1' is not a positive decimal with at most 2 decimal places"),
    ({"reason": 3}, "reason must be a string"),
    ([1], "request body must be a JSON object"),
])
def test_bad_control_options_are_refused(sandbox, merchant, body, detail):
    order_id = merchant.new_order()
    control(sandbox.base_url, order_id, "pay")
    answer = control(sandbox.base_url, order_id, "settle", body)
    assert (answer.status, answer.detail) == (400, detail)


@pytest.mark.parametrize("path, method, status, detail", [
    ("/sandbox/orders/VPnothing", "GET", 404, "unknown order"),
    ("/sandbox/orders/VPnothing/pay", "POST", 404, "unknown order"),
    ("/sandbox/orders/{id}/launder", "POST", 404, "unknown action: launder"),
    ("/sandbox/orders/{id}/pay", "GET", 405, "method not allowed: use POST"),
    ("/alipayment/sponsor/pay/", "GET", 405, "method not allowed: use POST"),
    ("/alipayment/sponsor/order-status/", "POST", 405, "method not allowed: use GET"),
    ("/elsewhere", "GET", 404, "not found"),
])
def test_control_api_errors(sandbox, merchant, path, method, status, detail):
    order_id = merchant.new_order()
    answer = exchange(sandbox.base_url + path.format(id=order_id), method,
                      b"" if method == "POST" else None)
    assert (answer.status, answer.detail) == (status, detail)


def test_orders_are_listed_in_creation_order(sandbox, merchant):
    ids = [merchant.new_order() for _ in range(3)]
    listed = exchange(sandbox.base_url + "/sandbox/orders").data
    assert [order["order_id"] for order in listed] == ids


class Clock:
    def __init__(self, now: float) -> None:
        self.now = now

    def __call__(self) -> float:
        return self.now


def test_paying_after_the_order_lapsed_expires_it(receiver):
    clock = Clock(time.time())
    with Sandbox({"ck": "sk"}, order_ttl=60, clock=clock) as sandbox:
        merchant = Merchant(sandbox.base_url, "ck", "sk")
        order_id = merchant.new_order(user_notify_url=receiver.url)
        clock.now += 61
        answer = control(sandbox.base_url, order_id, "pay")
        assert (answer.status, answer.detail) == (409, "order has expired")
        stored = record(sandbox.base_url, order_id)
        assert (stored["pay_status"], stored["fail_reason"]) == (3, "order expired")
        sandbox.wait_for_callbacks()
    assert json.loads(receiver.received[0][1])["status"] == "expired"
