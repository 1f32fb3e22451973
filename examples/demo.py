"""The whole payment flow against the local sandbox, with a transcript of each step.

    python examples/demo.py

Starts the sandbox (python -m vemrat_pay_sandbox) and a merchant callback receiver on
127.0.0.1, creates a split payment, pays it as the payer would on the payment page, verifies
the callback, and queries the order. Exits non-zero if any step does not behave.
"""

from __future__ import annotations

import http.server
import os
import queue
import subprocess
import sys
import tempfile
import threading
import urllib.parse
import urllib.request

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER

COMMUNITY_KEY = "demo-community"
SPONSOR_KEY = "demo-sponsor"


class Failed(Exception):
    pass


def step(title: str, detail: str = "") -> None:
    print(f"[ok] {title}" + (f"\n     {detail}" if detail else ""), flush=True)


def expect(condition: bool, what: str) -> None:
    if not condition:
        raise Failed(what)


class Receiver(http.server.ThreadingHTTPServer):
    """The merchant's own server: records callbacks and the payer's return."""

    def __init__(self) -> None:
        super().__init__(("127.0.0.1", 0), ReceiverHandler)
        self.callbacks: queue.Queue[tuple[str, str]] = queue.Queue()
        self.returns: queue.Queue[str] = queue.Queue()

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.server_address[1]}"


class ReceiverHandler(http.server.BaseHTTPRequestHandler):
    server: Receiver

    def do_POST(self) -> None:
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.server.callbacks.put((body.decode("utf-8"), self.headers.get(SIGNATURE_HEADER, "")))
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def do_GET(self) -> None:
        self.server.returns.put(self.path)
        page = b"<p>Thank you for your order.</p>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def log_message(self, format: str, *args: object) -> None:
        pass


def start_sandbox() -> tuple[subprocess.Popen[str], str]:
    process = subprocess.Popen(
        [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", f"{COMMUNITY_KEY}:{SPONSOR_KEY}"],
        stdout=subprocess.PIPE,
        text=True,
    )
    assert process.stdout is not None
    base_url = process.stdout.readline().strip()
    expect(base_url.startswith("http://127.0.0.1:"), f"the sandbox did not print its URL (got {base_url!r})")
    return process, base_url


def client_from_key_file(directory: str) -> vemrat_pay.Client:
    """Client() finds auth_key.py in the working space: here the current directory."""
    with open(os.path.join(directory, "auth_key.py"), "w", encoding="utf-8") as key_file:
        key_file.write(f'COMMUNITY_KEY = "{COMMUNITY_KEY}"\nSPONSOR_KEY = "{SPONSOR_KEY}"\n')
    previous = os.getcwd()
    os.chdir(directory)
    try:
        return vemrat_pay.Client()
    finally:
        os.chdir(previous)


def run() -> None:
    print(f"vemrat_pay {vemrat_pay.__version__}: payment flow against the local sandbox\n")
    sandbox, base_url = start_sandbox()
    receiver = Receiver()
    threading.Thread(target=receiver.serve_forever, daemon=True).start()
    try:
        os.environ["VEMRAT_PAY_BASE_URL"] = base_url
        step("sandbox started", base_url)
        step("merchant callback receiver started", receiver.url)

        with tempfile.TemporaryDirectory() as working_space:
            client = client_from_key_file(working_space)
        step("Client() read its keys from auth_key.py in the working space")

        payment = client.create_payment(
            10.0, "CNY", "2088000000000001", f"{receiver.url}/vemrat/callback", return_url=f"{receiver.url}/thanks"
        )
        expect(bool(payment.order_id) and payment.pay_url.startswith(base_url), f"unexpected result {payment!r}")
        step("split payment created", repr(payment))

        status = client.query_order(payment.order_id)
        expect(status.pay_status == 0, f"a new order should be pending, got {status!r}")
        step("order is pending before payment", f"{status!r} {status.pay_status_text!r}")

        with urllib.request.urlopen(payment.pay_url) as page:
            expect(b'id="pay"' in page.read(), "the payment page has no Pay button")
        step("payer opened the payment page", payment.pay_url)

        pay_form = urllib.parse.urljoin(payment.pay_url + "/", "pay")
        with urllib.request.urlopen(urllib.request.Request(pay_form, data=b"", method="POST")) as answer:
            landed = answer.geturl()
        expect(landed == f"{receiver.url}/thanks", f"the payer was not sent back to return_url (landed on {landed})")
        step("payer paid and was sent back to return_url", landed)

        body, signature = receiver.callbacks.get(timeout=10)
        fields = client.verify_callback(body, signature)
        expect(fields.get("order_id") == payment.order_id and fields.get("status") != "", f"callback {fields}")
        step("callback received and verified", f"{fields}")

        try:
            client.verify_callback(body.replace("10.00", "99.00"), signature)
        except RuntimeError as error:
            step("a tampered callback is refused", f"RuntimeError: {error}")
        else:
            raise Failed("a tampered callback was accepted")

        status = client.query_order(payment.order_id)
        expect(status.pay_status == 1 and status.order_id == payment.order_id, f"unexpected status {status!r}")
        step(
            "order queried after payment",
            f"{status!r}\n     pay {status.pay_status_text!r}, settle {status.settle_status_text!r}, "
            f"refund {status.refund_status_text!r}, amount {status.amount}, expires {status.expired}",
        )
    finally:
        receiver.shutdown()
        receiver.server_close()
        sandbox.terminate()
        sandbox.wait(timeout=10)
    print("\nThe payment flow behaved at every step.")


def main() -> int:
    try:
        run()
    except (Failed, Exception) as error:
        print(f"\n[FAILED] {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
