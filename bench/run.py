"""vemrat_pay side by side with what a merchant would use instead, in one process and one run.

Run with `bash scripts/bench.sh` (builds the module first) or, with the module installed,
`python bench/run.py [--quick]`. Every time is the best of several rounds of a timeit loop
whose length is calibrated to at least --round-seconds. bench/README.md explains each row.
"""

from __future__ import annotations

import argparse
import hashlib
import hmac
import itertools
import json
import os
import re
import subprocess
import sys
import threading
import timeit
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import orjson

import vemrat_pay

sys.path.insert(0, str(Path(__file__).resolve().parent))
from keepalive_round_trips import bench_keepalive  # noqa: E402
from pure_client import PureClient  # noqa: E402

COMMUNITY_KEY = "ck_live_3f9a2b7c4d1e"
SPONSOR_KEY = "sk_live_8e1d5c0b2a9f7e6d"
CALLBACK_KEYS = ("status", "order_id", "amount", "settle_amount", "reason", "expired")
PAYMENT_ANSWER = json.dumps(
    {"data": {"order_id": "202406011230450001", "pay_url": "https://pay.vemrat.com/p/202406011230450001?t=9f8e"}},
).encode()
STATUS_ANSWER = json.dumps({"data": {
    "order_id": "202406011230450001", "pay_status": 1, "pay_status_text": "paid", "settle_status": 2,
    "settle_status_text": "settled", "refund_status": 0, "refund_status_text": "none", "amount": "199.00",
    "settle_amount": "197.81", "expired": "2024-06-01T13:00:45+08:00", "fail_reason": "",
}}).encode()
PAYMENT_ARGS = (199.0, "CNY", "merchant-account@example.com", "https://shop.example.com/pay/notify/?order=1042")
ORDER_ID = "202406011230450001"


# --- timing -------------------------------------------------------------------------------------

class Timing:
    def __init__(self, rounds: int, round_seconds: float) -> None:
        self.rounds = rounds
        self.round_seconds = round_seconds

    def per_call(self, function) -> float:
        """Best of `rounds` timeit rounds, in seconds per call."""
        timer = timeit.Timer(function)
        number = 1
        while True:
            elapsed = timer.timeit(number)
            if elapsed >= self.round_seconds:
                break
            number = max(number * 2, int(number * self.round_seconds / max(elapsed, 1e-9) * 1.1))
        return min([elapsed / number] + [t / number for t in timer.repeat(self.rounds - 1, number)])


def show_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e3:.3f} ms"


class Table:
    def __init__(self) -> None:
        self.rows: list[tuple[str, str, str, str, str]] = []

    def section(self, title: str) -> None:
        self.rows.append((title, "", "", "", ""))

    def row(self, name: str, seconds: float | None, ratio: str = "", goal: str = "", text: str = "") -> None:
        self.rows.append(("  " + name, text or show_time(seconds), ratio, goal, ""))
        print(f"  {name}: {text or show_time(seconds)} {ratio} {goal}", file=sys.stderr, flush=True)

    def print(self) -> None:
        header = ("case", "per call", "ratio", "goal", "")
        widths = [max(len(r[i]) for r in self.rows + [header]) for i in range(4)]
        line = "  ".join("-" * w for w in widths)
        print("  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip())
        print(line)
        for r in self.rows:
            if not r[1]:
                print(r[0])
                continue
            print(f"{r[0].ljust(widths[0])}  {r[1].rjust(widths[1])}  {r[2].ljust(widths[2])}  {r[3]}".rstrip())


def goal(met: bool, wanted: str) -> str:
    return f"{wanted}: {'met' if met else 'NOT MET'}"


# --- verify_callback ----------------------------------------------------------------------------

def callback_body(size: int) -> str:
    """A callback as a Python service writes it: the six fields, some others, and order items."""
    document = {
        "status": "TRADE_SUCCESS", "order_id": "202406011230450001", "amount": "199.00",
        "settle_amount": "197.81", "reason": "", "expired": "2024-06-01T13:00:45+08:00",
    }
    if size > 200:
        document.update({
            "currency": "CNY", "community_key": COMMUNITY_KEY, "timestamp": 1717216845, "paid": True,
            "payer": {"account": "buyer***@example.com", "name": "张三", "channel": "alipay"}, "items": [],
        })
    body = json.dumps(document, ensure_ascii=False)
    index = 0
    while len(body.encode()) < size - 160:
        document["items"].append({
            "sku": f"SKU-{index:06d}", "name": f"商品 {index} \"deluxe\" edition", "quantity": index % 5 + 1,
            "unit_price": f"{(index * 37) % 500 + 0.99:.2f}", "discount": round((index % 7) / 20, 2),
            "tags": ["gift", "fragile"] if index % 3 == 0 else [], "note": None,
        })
        index += 1
        if index % 64 == 0 or size < 100_000:
            body = json.dumps(document, ensure_ascii=False)
    return json.dumps(document, ensure_ascii=False)


def stdlib_verify(loads, key: bytes, body: str, signature: str) -> dict:
    raw = body.encode()
    expected = hmac.new(key, raw, hashlib.sha256).hexdigest()
    if not hmac.compare_digest(expected, signature):
        raise RuntimeError("Invalid callback signature")
    document = loads(raw)
    fields = {}
    if type(document) is dict:
        for name in CALLBACK_KEYS:
            if name in document:
                value = document[name]
                fields[name] = value if type(value) is str else ""
    return fields


def bench_verify(table: Table, timing: Timing) -> None:
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    key = SPONSOR_KEY.encode()
    goals = {150: 4.0, 4096: 5.0, 1_000_000: 5.0}
    for size, label in ((150, "150 B"), (4096, "4 KB"), (1_000_000, "1 MB")):
        body = callback_body(size)
        raw = body.encode()
        signature = hmac.new(key, raw, hashlib.sha256).hexdigest()
        expected = stdlib_verify(json.loads, key, body, signature)
        assert client.verify_callback(body, signature) == expected
        assert stdlib_verify(orjson.loads, key, body, signature) == expected

        table.section(f"verify_callback, {label} body ({len(raw):,} bytes)")
        module = timing.per_call(lambda: client.verify_callback(body, signature))
        stdlib = timing.per_call(lambda: stdlib_verify(json.loads, key, body, signature))
        fast = timing.per_call(lambda: stdlib_verify(orjson.loads, key, body, signature))
        floor = timing.per_call(lambda: hmac.new(key, raw, "sha256").digest())
        table.row("vemrat_pay Client.verify_callback", module)
        table.row("hmac + compare_digest + json.loads", stdlib, f"{stdlib / module:.2f}x slower",
                  goal(stdlib / module >= goals[size], f">= {goals[size]:.0f}x"))
        table.row("hmac + compare_digest + orjson.loads", fast, f"{fast / module:.2f}x slower",
                  goal(fast / module > 1, "> 1x"))
        table.row("HMAC-SHA256 alone (floor)", floor, f"module = {module / floor:.2f}x floor",
                  goal(module / floor <= 2.5, "<= 2.5x") if size == 1_000_000 else "")


# --- create_payment and query_order through a stub ----------------------------------------------

class CannedResponse:
    __slots__ = ("_body",)

    def __init__(self, body: bytes) -> None:
        self._body = body

    def getcode(self) -> int:
        return 200

    def read(self) -> bytes:
        return self._body


def distinct_urls(url: str, count: int) -> list[str]:
    """`count` copies of `url`, each with another nonce of the same length."""
    start = url.index("&nonce=") + len("&nonce=")
    return [f"{url[:start]}{index:032x}{url[start + 32:]}" for index in range(count)]


def bench_stubbed(table: Table, timing: Timing) -> None:
    os.environ["VEMRAT_PAY_BASE_URL"] = "https://api.vemrat.com"
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    pure = PureClient(COMMUNITY_KEY, SPONSOR_KEY)
    original = urllib.request.urlopen
    sent = []
    try:
        for name, answer in (("create_payment", PAYMENT_ANSWER), ("query_order", STATUS_ANSWER)):
            response = CannedResponse(answer)

            def recording_stub(request):
                sent.append((request.full_url, request.data, request.get_method()))
                return response

            urllib.request.urlopen = recording_stub
            if name == "create_payment":
                module_call = lambda: client.create_payment(*PAYMENT_ARGS)  # noqa: E731
                pure_call = lambda: pure.create_payment(*PAYMENT_ARGS)  # noqa: E731
            else:
                module_call = lambda: client.query_order(ORDER_ID)  # noqa: E731
                pure_call = lambda: pure.query_order(ORDER_ID)  # noqa: E731
            module_call()
            url, data, method = sent[-1]
            urllib.request.urlopen = lambda request: response
            # urllib caches the parse of recently seen URLs; every real query URL is new (its nonce
            # and signature change), so the floor cycles through as many distinct URLs as it calls.
            urls = itertools.cycle(distinct_urls(url, 1 << 16)) if data is None else itertools.repeat(url)

            def floor_call():
                address = next(urls)
                request = urllib.request.Request(address) if data is None else urllib.request.Request(address, data)
                request.method = method
                answered = urllib.request.urlopen(request)
                answered.getcode()
                answered.read()

            table.section(f"{name}, urlopen replaced by an in-process stub")
            module = timing.per_call(module_call)
            python = timing.per_call(pure_call)
            floor = timing.per_call(floor_call)
            share = module - floor
            table.row(f"vemrat_pay Client.{name}", module)
            table.row("pure-Python client (bench/pure_client.py)", python, f"{python / module:.2f}x slower",
                      goal(python / module >= 2, ">= 2x"))
            table.row("Request + stub + getcode + read (floor)", floor)
            table.row("module's own share (module - floor)", share, "", goal(share <= 1.5e-6, "<= 1.50 µs"))
    finally:
        urllib.request.urlopen = original


# --- the same through a real local HTTP server --------------------------------------------------

class ServiceHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_POST(self) -> None:
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.answer(PAYMENT_ANSWER)

    def do_GET(self) -> None:
        self.answer(STATUS_ANSWER)

    def answer(self, body: bytes) -> None:
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args) -> None:
        pass


def bench_local_server(table: Table, timing: Timing) -> None:
    server = ThreadingHTTPServer(("127.0.0.1", 0), ServiceHandler)
    server.daemon_threads = True
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    os.environ["VEMRAT_PAY_BASE_URL"] = f"http://127.0.0.1:{server.server_address[1]}"
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    pure = PureClient(COMMUNITY_KEY, SPONSOR_KEY)
    try:
        for name, module_call, pure_call in (
            ("create_payment", lambda: client.create_payment(*PAYMENT_ARGS), lambda: pure.create_payment(*PAYMENT_ARGS)),
            ("query_order", lambda: client.query_order(ORDER_ID), lambda: pure.query_order(ORDER_ID)),
        ):
            assert module_call().order_id == pure_call().order_id == ORDER_ID
            table.section(f"{name}, real round trip to a threaded http.server on 127.0.0.1")
            module = timing.per_call(module_call)
            python = timing.per_call(pure_call)
            table.row(f"vemrat_pay Client.{name}", module)
            table.row("pure-Python client", python, f"{python / module:.2f}x slower",
                      f"module - pure = {show_time(module - python)}" if module > python else "")
    finally:
        server.shutdown()
        server.server_close()
        del os.environ["VEMRAT_PAY_BASE_URL"]


# --- import time --------------------------------------------------------------------------------

def bench_import(table: Table, runs: int) -> None:
    pattern = re.compile(r"import time:\s*(\d+)\s*\|\s*(\d+)\s*\|\s*vemrat_pay\s*$", re.M)
    best = None
    for _ in range(runs):
        run = subprocess.run([sys.executable, "-X", "importtime", "-c", "import vemrat_pay"],
                             capture_output=True, text=True, check=True)
        match = pattern.search(run.stderr)
        if match is None:
            raise SystemExit("no import time line for vemrat_pay:\n" + run.stderr)
        cumulative = int(match.group(2)) * 1e-6
        best = cumulative if best is None else min(best, cumulative)
    table.section(f"import, fresh interpreter (-X importtime, best of {runs})")
    table.row("import vemrat_pay (cumulative)", best, "", goal(best < 1e-3, "< 1 ms"))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="3 rounds of 0.05 s instead of 7 of 0.2 s")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--round-seconds", type=float)
    parser.add_argument("--only", choices=["verify", "stub", "server", "keepalive", "import"], action="append")
    options = parser.parse_args()
    timing = Timing(options.rounds or (3 if options.quick else 7),
                    options.round_seconds or (0.05 if options.quick else 0.2))
    only = set(options.only or ["verify", "stub", "server", "keepalive", "import"])

    table = Table()
    print(f"Python {sys.version.split()[0]}, vemrat_pay {vemrat_pay.__version__}, orjson {orjson.__version__}, "
          f"{os.cpu_count()} cores; best of {timing.rounds} rounds of >= {timing.round_seconds} s", flush=True)
    if "verify" in only:
        bench_verify(table, timing)
    if "stub" in only:
        bench_stubbed(table, timing)
    if "server" in only:
        bench_local_server(table, timing)
    if "keepalive" in only:
        bench_keepalive(table, timing, goal, COMMUNITY_KEY, SPONSOR_KEY, PAYMENT_ARGS)
    if "import" in only:
        bench_import(table, 10 if options.quick else 30)
    print()
    table.print()


if __name__ == "__main__":
    main()
