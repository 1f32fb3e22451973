"""Callback delivery: in the background, retried on a schedule, resent on request."""

import json
import threading

from vemrat_pay_sandbox import Sandbox
from wire import CallbackReceiver, Merchant, control, exchange, form_body


def test_a_receiver_that_fails_twice_gets_the_third_attempt(sandbox, merchant):
    with CallbackReceiver(answer_statuses=[500, 503, 200]) as receiver:
        order_id = merchant.new_order(user_notify_url=receiver.url)
        control(sandbox.base_url, order_id, "pay")
        sandbox.wait_for_callbacks()
    [delivery] = sandbox.order(order_id)["callbacks"]
    assert delivery["state"] == "delivered"
    assert [(a["attempt"], a["status"], a["error"]) for a in delivery["attempts"]] == \
        [(1, 500, "HTTP 500"), (2, 503, "HTTP 503"), (3, 200, "")]
    assert (delivery["status"], delivery["error"]) == (200, "")
    # The same signed body each time.
    assert len({body for _, body, _ in receiver.received}) == 1 and len(receiver.received) == 3


def test_no_retry_schedule_means_one_attempt():
    with Sandbox({"ck": "sk"}, retry_delays=()) as sandbox, \
            CallbackReceiver(answer_status=500) as receiver:
        order_id = Merchant(sandbox.base_url, "ck", "sk").new_order(user_notify_url=receiver.url)
        control(sandbox.base_url, order_id, "pay")
        sandbox.wait_for_callbacks()
        [delivery] = sandbox.order(order_id)["callbacks"]
    assert (delivery["state"], len(delivery["attempts"])) == ("failed", 1)


def test_the_request_that_causes_a_callback_does_not_wait_for_it(sandbox, merchant):
    gate = threading.Event()
    with CallbackReceiver(gate=gate) as receiver:
        order_id = merchant.new_order(user_notify_url=receiver.url)
        try:
            # Answered while the receiver still holds the callback's request open.
            assert control(sandbox.base_url, order_id, "pay").status == 200
            assert receiver.arrived.acquire(timeout=10)
            [delivery] = sandbox.order(order_id)["callbacks"]
            assert (delivery["state"], delivery["attempts"]) == ("scheduled", [])
        finally:
            gate.set()
        sandbox.wait_for_callbacks()
    assert sandbox.order(order_id)["callbacks"][0]["state"] == "delivered"


def test_resend_delivers_the_latest_callback_again(sandbox, merchant):
    with CallbackReceiver() as receiver:
        order_id = merchant.new_order(user_notify_url=receiver.url)
        control(sandbox.base_url, order_id, "pay")
        control(sandbox.base_url, order_id, "refund")
        answer = control(sandbox.base_url, order_id, "resend")
        assert answer.status == 200
        assert answer.data["callbacks"][-1]["cause"] == "resend"
        sandbox.wait_for_callbacks()
    assert [json.loads(body)["status"] for _, body, _ in receiver.received] == \
        ["paid", "refunded", "refunded"]
    assert receiver.received[1][1] == receiver.received[2][1]
    assert receiver.received[1][0]["X-Vemrat-Signature"] == receiver.received[2][0]["X-Vemrat-Signature"]


def test_resend_refusals(sandbox, merchant):
    order_id = merchant.new_order()
    answer = control(sandbox.base_url, order_id, "resend")
    assert (answer.status, answer.detail) == (409, "order has no callback to resend")
    answer = control(sandbox.base_url, "VPnothing", "resend")
    assert (answer.status, answer.detail) == (404, "unknown order")
    assert exchange(f"{sandbox.base_url}/sandbox/orders/{order_id}/resend").status == 405


def test_deliveries_left_scheduled_go_out_after_a_restart(tmp_path):
    db = str(tmp_path / "sandbox.sqlite3")
    with CallbackReceiver() as receiver:
        stopped = Sandbox({"ck": "sk"}, db=db)  # never started: no delivery is attempted
        fields = Merchant(stopped.base_url, "ck", "sk").payment_fields(user_notify_url=receiver.url)
        order_id = stopped.service.create_payment(form_body(fields))["order_id"]
        stopped.service.apply(order_id, "pay")
        stopped.stop()
        assert receiver.received == []

        with Sandbox({"ck": "sk"}, db=db) as restarted:
            restarted.wait_for_callbacks()
            [delivery] = restarted.order(order_id)["callbacks"]
    assert delivery["state"] == "delivered"
    assert [json.loads(body)["status"] for _, body, _ in receiver.received] == ["paid"]
