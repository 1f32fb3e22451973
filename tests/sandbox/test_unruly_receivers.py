"""Receivers that answer badly or slowly: every attempt ends, is recorded and retried, and
no receiver holds up another order's callbacks or the sandbox's stop."""

import signal
import subprocess
import sys
import zlib

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import CallbackReceiver, Merchant, RawReceiver, control, wait_until, with_the_package

RETRY_DELAYS = (0.01, 0.02)
STATUS_LINE = b"HTTP/1.1 200 OK\r\n"


# Answers http.client cannot parse, and the error each attempt records.
@pytest.mark.parametrize("answer, error", [
    (b"hello\r\n", "BadStatusLine: hello"),
    (b"HTTP/1.1 2000 OK\r\n\r\n", "BadStatusLine"),
    (STATUS_LINE + b"Content-Length: 2\r\n", "IncompleteRead"),  # headers cut short
    (STATUS_LINE + b"Content-Length: 10\r\n\r\nabc", "IncompleteRead"),
    (STATUS_LINE + b"Transfer-Encoding: chunked\r\n\r\nzz\r\n", "IncompleteRead"),
    (STATUS_LINE + b"X: y\r\n" * 101 + b"\r\n", "HTTPException: got more than 100 headers"),
    (STATUS_LINE + b"X: " + b"y" * 70000, "LineTooLong"),
    (b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n", "HTTP 101"),
    (b"", "RemoteDisconnected"),
])
def test_an_answer_that_cannot_be_parsed_is_a_failed_attempt(tmp_path, answer, error):
    db = str(tmp_path / "sandbox.sqlite3")
    with RawReceiver(answer) as receiver:
        with Sandbox({"ck": "sk"}, db=db, retry_delays=RETRY_DELAYS) as sandbox:
            order_id = Merchant(sandbox.base_url, "ck", "sk").new_order(user_notify_url=receiver.url)
            control(sandbox.base_url, order_id, "pay")
            wait_until(lambda: sandbox.order(order_id)["callbacks"][0]["state"] != "scheduled")
            [delivery] = sandbox.order(order_id)["callbacks"]
        assert delivery["state"] == "failed"
        assert [attempt["attempt"] for attempt in delivery["attempts"]] == [1, 2, 3]
        assert all(error in attempt["error"] for attempt in delivery["attempts"]), delivery
        # Given up for good: a restart sends nothing more.
        with Sandbox({"ck": "sk"}, db=db, retry_delays=RETRY_DELAYS) as restarted:
            restarted.wait_for_callbacks()
            assert restarted.order(order_id)["callbacks"] == [delivery]
    assert receiver.requests == 3


TRICKLE = 0.05  # seconds between two bytes of a trickling answer


def test_a_trickling_receiver_is_cut_off_at_the_attempt_s_deadline():
    with Sandbox({"ck": "sk"}, callback_timeout=0.5, retry_delays=RETRY_DELAYS) as sandbox, \
            RawReceiver(STATUS_LINE, trickle=TRICKLE) as receiver:
        order_id = Merchant(sandbox.base_url, "ck", "sk").new_order(user_notify_url=receiver.url)
        control(sandbox.base_url, order_id, "pay")
        # Each attempt gets a byte every 0.05 s, never a whole answer.
        sandbox.wait_for_callbacks(timeout=60)
        [delivery] = sandbox.order(order_id)["callbacks"]
        assert delivery["state"] == "failed"
        assert [attempt["error"] for attempt in delivery["attempts"]] == \
            ["timed out: no complete answer within 0.5 s"] * 3
        wait_until(lambda: receiver.open == 0)
        assert (receiver.requests, receiver.cut_off) == (3, 3)


def orders_with_ids_alike(merchant, slow_url, fast_url, alike):
    """An order for each URL whose ids are alike as `alike` sees them."""
    slow = merchant.new_order(user_notify_url=slow_url)
    while True:
        fast = merchant.new_order(user_notify_url=fast_url)
        if alike(slow) == alike(fast):
            return slow, fast


def test_a_slow_receiver_holds_up_no_other_order():
    with Sandbox({"ck": "sk"}, callback_timeout=3600, retry_delays=()) as sandbox, \
            RawReceiver(STATUS_LINE, trickle=TRICKLE) as slow, CallbackReceiver() as fast:
        # Ids that share a worker when orders are spread over the workers by their id.
        slow_order, fast_order = orders_with_ids_alike(
            Merchant(sandbox.base_url, "ck", "sk"), slow.url, fast.url,
            lambda order_id: zlib.crc32(order_id.encode()) % 4)
        control(sandbox.base_url, slow_order, "pay")
        wait_until(lambda: slow.requests == 1)
        control(sandbox.base_url, fast_order, "pay")
        wait_until(lambda: sandbox.order(fast_order)["callbacks"][0]["state"] == "delivered")
        # The slow receiver's attempt is still under way, unrecorded.
        assert slow.open == 1
        assert sandbox.order(slow_order)["callbacks"][0]["attempts"] == []


def test_sigterm_cuts_off_an_attempt_under_way(tmp_path):
    db = str(tmp_path / "sandbox.sqlite3")
    with RawReceiver(STATUS_LINE, trickle=TRICKLE) as slow:
        process = subprocess.Popen(
            [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", "ck:sk", "--db", db,
             "--callback-timeout", "3600"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=with_the_package())
        try:
            base_url = process.stdout.readline().strip()
            order_id = Merchant(base_url, "ck", "sk").new_order(user_notify_url=slow.url)
            control(base_url, order_id, "pay")
            wait_until(lambda: slow.requests == 1)
            process.send_signal(signal.SIGTERM)
            _, stderr = process.communicate(timeout=30)
        finally:
            process.kill()
            process.wait()
        assert process.returncode == 0, stderr
        wait_until(lambda: slow.open == 0)
        assert slow.cut_off == 1
    # Recorded as interrupted, and due again at the next start.
    stopped = Sandbox({"ck": "sk"}, db=db)
    try:
        [delivery] = stopped.order(order_id)["callbacks"]
    finally:
        stopped.stop()
    assert delivery["state"] == "scheduled"
    assert [(a["status"], a["error"]) for a in delivery["attempts"]] == \
        [(None, "interrupted: the sandbox stopped before the answer came")]
