import os
import signal
import socket
import socketserver
import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import PACKAGE_ROOT, Merchant, control, exchange, form_body, wait_until, with_the_package

def test_orders_and_nonces_survive_a_restart(tmp_path):
    db = str(tmp_path / "sandbox.sqlite3")
    with Sandbox({"ck": "sk"}, db=db) as first:
        merchant = Merchant(first.base_url, "ck", "sk")
        fields = merchant.payment_fields(amount="42")
        order_id = merchant.post_form(form_body(fields)).data["order_id"]
        control(first.base_url, order_id, "pay")
        query = merchant.status_url(order_id)
        assert exchange(query).status == 200

    with Sandbox({"ck": "sk"}, db=db) as second:
        merchant = Merchant(second.base_url, "ck", "sk")
        data = merchant.query(order_id).data
        assert (data["order_id"], data["amount"], data["pay_status"]) == (order_id, "42.00", 1)
        replay = merchant.post_form(form_body(fields))
        assert (replay.status, replay.detail) == (401, "replayed nonce")
        replayed_query = exchange(query.replace(first.base_url, second.base_url))
        assert (replayed_query.status, replayed_query.detail) == (401, "replayed nonce")
        assert len(exchange(second.base_url + "/sandbox/orders").data) == 1
        # Pay URLs of new orders carry the new address.
        assert merchant.pay().data["pay_url"].startswith(second.base_url + "/pay/")


def test_concurrent_payments_all_succeed_with_distinct_ids(sandbox):
    merchants = [Merchant(sandbox.base_url, "ck-one", "sk-one"),
                 Merchant(sandbox.base_url, "ck-two", "sk-two")]
    start = threading.Barrier(8)

    def pay_several(worker: int) -> list[tuple[int, str]]:
        merchant = merchants[worker % 2]
        start.wait()
        answers = [merchant.pay(amount=f"{worker}.{n:02d}") for n in range(1, 6)]
        return [(answer.status, answer.json.get("data", {}).get("order_id", answer.body))
                for answer in answers]

    with ThreadPoolExecutor(max_workers=8) as pool:
        results = [row for rows in pool.map(pay_several, range(8)) for row in rows]

    assert [status for status, _ in results] == [200] * 40
    order_ids = {order_id for _, order_id in results}
    assert len(order_ids) == 40
    assert {order["order_id"] for order in sandbox.store.orders()} == order_ids


STOP_WITH_A_SILENT_CONNECTION = """
import socket, threading, urllib.parse, urllib.request
from vemrat_pay_sandbox import Sandbox

sandbox = Sandbox({"ck": "sk"}).start()
address = urllib.parse.urlsplit(sandbox.base_url)
with socket.create_connection((address.hostname, address.port)) as silent:
    # Half a request: its thread waits for the rest. Connections are accepted in turn, so
    # once a later one is answered, that thread is running.
    silent.sendall(b"GET /sandbox/orders HTTP/1.0\\r\\n")
    with urllib.request.urlopen(sandbox.base_url + "/sandbox/orders", timeout=10) as answer:
        assert answer.status == 200
    sandbox.stop()
print([thread.name for thread in threading.enumerate() if thread is not threading.main_thread()])
"""


def test_stop_leaves_no_thread_of_the_sandbox_running():
    # In a process of its own, where no other test's thread can appear.
    run = subprocess.run([sys.executable, "-c", STOP_WITH_A_SILENT_CONNECTION], capture_output=True,
                         text=True, env=with_the_package(), timeout=60)
    assert (run.returncode, run.stdout) == (0, "[]\n"), run.stderr


def test_the_module_runs_as_a_server_process(tmp_path):
    env = with_the_package()
    process = subprocess.Popen(
        [sys.executable, "-m", "vemrat_pay_sandbox", "--host", "127.0.0.1", "--port", "0",
         "--merchant", "ck:sk", "--merchant", "ck2:s:k2", "--db", str(tmp_path / "cli.db")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        base_url = process.stdout.readline().strip()
        assert base_url.startswith("http://127.0.0.1:")
        assert base_url.rsplit(":", 1)[1] != "0"
        assert process.stdout.readline() == f"dashboard: {base_url}/sandbox/\n"
        assert exchange(f"{base_url}/sandbox/").status == 200
        data = Merchant(base_url, "ck", "sk").pay().data
        assert data["pay_url"] == f"{base_url}/pay/{data['order_id']}"
        # Only the first colon separates the two keys.
        assert Merchant(base_url, "ck2", "s:k2").pay().status == 200
    finally:
        process.send_signal(signal.SIGTERM)
        _, stderr = process.communicate(timeout=10)
    assert process.returncode == 0, stderr
    assert (tmp_path / "cli.db").exists()


def test_the_module_refuses_a_malformed_merchant():
    env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT)
    result = subprocess.run([sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", "nokeys"],
                            capture_output=True, text=True, env=env, timeout=10)
    assert result.returncode == 2
    assert "expected COMMUNITY_KEY:SPONSOR_KEY" in result.stderr
    assert result.stdout == ""


def test_an_interrupt_while_a_connection_starts_reaches_the_serving_loop(monkeypatch):
    # SIGTERM (turned into KeyboardInterrupt by the command) can arrive while the accepting
    # thread starts a connection's thread, after that thread has started and even finished.
    # The slot must be given back once: a second release raised ValueError in place of the
    # interrupt, the serving loop logged it and went on, and the process never stopped.
    with Sandbox({"ck": "sk"}) as sandbox:
        server = sandbox.server
        start_thread = socketserver.ThreadingMixIn.process_request

        def started_then_interrupted(self, request, client_address):
            start_thread(self, request, client_address)
            wait_until(lambda: request not in server._open)  # the connection's thread has ended
            raise KeyboardInterrupt

        monkeypatch.setattr(socketserver.ThreadingMixIn, "process_request", started_then_interrupted)
        # A connection whose client has already hung up: its thread ends at once.
        with socket.create_server(("127.0.0.1", 0)) as listener:
            socket.create_connection(listener.getsockname()).close()
            accepted, address = listener.accept()
        with pytest.raises(KeyboardInterrupt):
            server.process_request(accepted, address)
        monkeypatch.undo()
        # Every slot is free again, and not one more.
        assert all(server._slots.acquire(blocking=False) for _ in range(64))
        assert not server._slots.acquire(blocking=False)
        for _ in range(64):
            server._slots.release()


def test_a_busy_port_is_named_in_one_line():
    host = "127.0.0.1"
    with socket.create_server((host, 0)) as busy:
        port = busy.getsockname()[1]
        result = subprocess.run(
            [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", "ck:sk", "--host", host,
             "--port", str(port)], capture_output=True, text=True, env=with_the_package(), timeout=30)
    assert result.returncode == 1 and result.stdout == ""
    assert result.stderr == (
        f"python -m vemrat_pay_sandbox: cannot listen on {host} port {port}: Address already in "
        "use; stop the program that uses it, or choose another port with --port (0 lets the "
        "system choose a free one)\n")
