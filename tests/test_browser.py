"""A payer in headless Chromium pays on the sandbox's payment page.

In the first case the shop's side is a small receiver that verifies the callback with
vemrat_pay and serves the return page; the test sees both the verified callback and the
browser arriving at return_url. In the second it is the example Django shop, run with
runserver against the sandbox run as `python -m vemrat_pay_sandbox`, both as processes.
"""

import http.server
import os
import queue
import socket
import subprocess
import sys
import threading
import time
from collections.abc import Iterator
from pathlib import Path

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER, Sandbox

pytestmark = pytest.mark.companion

COMMUNITY_KEY = "browser-community"
SPONSOR_KEY = "browser-sponsor"


class Receiver(http.server.ThreadingHTTPServer):
    """The merchant: POST /callback verifies and records, GET /return/... shows a page."""

    daemon_threads = True

    def __init__(self) -> None:
        super().__init__(("127.0.0.1", 0), ReceiverHandler)
        self.client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
        self.callbacks: queue.Queue[dict[str, str] | str] = queue.Queue()
        self.url = f"http://127.0.0.1:{self.server_address[1]}"


class ReceiverHandler(http.server.BaseHTTPRequestHandler):
    server: Receiver

    def log_message(self, format, *args):
        pass

    def _answer(self, status, content_type, text):
        payload = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        try:
            fields = self.server.client.verify_callback(body.decode("utf-8"),
                                                        self.headers.get(SIGNATURE_HEADER, ""))
        except (RuntimeError, UnicodeDecodeError) as error:
            self.server.callbacks.put(f"refused: {error}")
            self._answer(400, "text/plain", "invalid callback")
            return
        self.server.callbacks.put(fields)
        self._answer(200, "text/plain", "ok")

    def do_GET(self):
        self._answer(200, "text/html; charset=utf-8",
                     "<!DOCTYPE html><title>Shop</title><h1 id=\"back\">Back at the shop</h1>")


@pytest.fixture
def receiver() -> Iterator[Receiver]:
    server = Receiver()
    thread = threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True)
    thread.start()
    yield server
    server.shutdown()
    thread.join()
    server.server_close()


@pytest.fixture
def sandbox(monkeypatch) -> Iterator[Sandbox]:
    with Sandbox(merchants={COMMUNITY_KEY: SPONSOR_KEY}) as running:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", running.base_url)
        yield running


def test_paying_on_the_payment_page_sends_a_verified_callback_and_returns(
        receiver, sandbox, browser):
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    return_url = f"{receiver.url}/return/42"
    payment = client.create_payment(12.34, "CNY", "2088000000000001", f"{receiver.url}/callback",
                                    return_url=return_url)

    browser.get(payment.pay_url)
    assert browser.find_element(By.ID, "amount").text == "12.34 CNY"
    assert browser.find_element(By.ID, "status").text == "pending"
    browser.find_element(By.ID, "pay").click()

    WebDriverWait(browser, 15).until(lambda driver: driver.current_url == return_url)
    assert browser.find_element(By.ID, "back").text == "Back at the shop"

    fields = receiver.callbacks.get(timeout=5)
    assert isinstance(fields, dict), fields
    assert fields["status"] == "paid"
    assert fields["order_id"] == payment.order_id
    assert fields["amount"] == "12.34"
    assert receiver.callbacks.empty()
    assert client.query_order(payment.order_id).pay_status == 1

    # Back on the payment page, the order can no longer be paid.
    browser.get(payment.pay_url)
    assert browser.find_element(By.ID, "result").text == "This order can no longer be paid."
    assert not browser.find_elements(By.ID, "pay")


SHOP = Path(__file__).resolve().parent.parent / "examples" / "django_shop"


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(process: subprocess.Popen, port: int) -> None:
    """Until the process accepts connections on the port; it must not exit meanwhile."""
    for _ in range(600):
        if process.poll() is not None:
            raise AssertionError(f"the server exited with {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)  # polling the port itself, bounded above
    raise AssertionError(f"nothing listens on port {port}")


@pytest.fixture
def shop_url(tmp_path) -> Iterator[str]:
    """The example shop on runserver, its payments with a sandbox process; both stopped after."""
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("DJANGO_SETTINGS_MODULE", "PYTHONPATH")}
    environment["SHOP_DATABASE"] = str(tmp_path / "shop.sqlite3")
    processes: list[subprocess.Popen] = []
    try:
        sandbox = subprocess.Popen(
            [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", "shop-community:shop-sponsor"],
            stdout=subprocess.PIPE, text=True, env=environment)
        processes.append(sandbox)
        environment["VEMRAT_PAY_BASE_URL"] = sandbox.stdout.readline().strip()
        subprocess.run([sys.executable, "manage.py", "migrate", "--noinput"], cwd=SHOP,
                       env=environment, check=True, capture_output=True, timeout=300)
        port = free_port()
        shop = subprocess.Popen([sys.executable, "manage.py", "runserver", "--noreload",
                                 f"127.0.0.1:{port}"], cwd=SHOP, env=environment,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(shop)
        wait_until_listening(shop, port)
        yield f"http://127.0.0.1:{port}"
    finally:
        for process in processes:
            process.terminate()
            process.wait(timeout=30)


def test_a_payer_checks_out_in_the_example_shop_and_sees_the_order_paid(shop_url, browser):
    browser.get(shop_url + "/")
    browser.find_element(By.NAME, "amount").send_keys("12.34")
    browser.find_element(By.NAME, "recipient").send_keys("2088000000000001")
    browser.find_element(By.CSS_SELECTOR, "button[type=submit]").click()

    WebDriverWait(browser, 15).until(lambda driver: "/pay/" in driver.current_url)
    assert browser.find_element(By.ID, "amount").text == "12.34 CNY"
    browser.find_element(By.ID, "pay").click()

    WebDriverWait(browser, 15).until(lambda driver: "/orders/" in driver.current_url)
    shown = {name: browser.find_element(By.ID, name).text
             for name in ("pay-status", "amount", "receipt")}
    assert shown["pay-status"] == "paid"
    assert shown["amount"] == "12.34 CNY"
    assert shown["receipt"].startswith("No. 1, issued ")
    assert not browser.find_elements(By.ID, "pay-link")
