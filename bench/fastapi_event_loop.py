"""The event loop of a FastAPI shop while its payments wait on the service.

    .venv/bin/python bench/fastapi_event_loop.py [--starts 50] [--delay 1] [--pings-after 0.5]

The example FastAPI shop (examples/fastapi_shop) runs under one uvicorn worker against the
sandbox, in processes of their own, on a SQLite database. The sandbox holds every
payment-creation answer for `--delay` seconds (its `delay` fault). A client process posts
`--starts` checkouts at once; meanwhile this process sends GET /ping to the same worker over
one kept-alive connection, one after the other, from the moment the checkouts go out until
all of them are answered (and `--pings-after` seconds more), and prints the ping latencies
(p50, p99, max) and the checkouts' times. Goal: ping p99 under 20 ms while 50 checkouts each
wait 1 s.
"""

from __future__ import annotations

import argparse
import http.client
import json
import multiprocessing
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import uuid
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "frameworks"))
from shop_servers import COMMUNITY_KEY, SPONSOR_KEY, free_port, stop, wait_until_listening  # noqa: E402
from shop_servers import http as send  # noqa: E402


def checkout(url: str) -> tuple[float, int]:
    """One checkout as a browser posts it; (seconds, status)."""
    body = urllib.parse.urlencode({"amount": "10.00", "currency": "CNY",
                                   "recipient": "2088000000000001",
                                   "reference": str(uuid.uuid4())}).encode()
    began = time.perf_counter()
    answer = send("POST", url + "/checkout", body,
                  {"Content-Type": "application/x-www-form-urlencoded"})
    return time.perf_counter() - began, answer.status


def post_checkouts(url: str, count: int, results: multiprocessing.Queue) -> None:  # type: ignore[type-arg]
    with ThreadPoolExecutor(count) as pool:
        results.put(list(pool.map(checkout, [url] * count)))


def percentile(values: list[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--starts", type=int, default=50)
    parser.add_argument("--delay", type=float, default=1.0)
    parser.add_argument("--pings-after", type=float, default=0.5)
    arguments = parser.parse_args()

    directory = Path(tempfile.mkdtemp(prefix="vemrat-bench-"))
    environment = {key: value for key, value in os.environ.items()
                   if not key.startswith(("VEMRAT_PAY_", "SHOP_"))}
    environment.update(VEMRAT_PAY_COMMUNITY_KEY=COMMUNITY_KEY, VEMRAT_PAY_SPONSOR_KEY=SPONSOR_KEY,
                       SHOP_DATABASE_URL=f"sqlite:///{directory / 'shop.sqlite3'}",
                       VEMRAT_PAY_SOCKET_TIMEOUT="30")
    shop_directory = ROOT / "examples" / "fastapi_shop"
    processes = []
    try:
        sandbox = subprocess.Popen(
            [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant",
             f"{COMMUNITY_KEY}:{SPONSOR_KEY}", "--max-connections", "256",
             "--db", str(directory / "sandbox.sqlite3")],
            stdout=subprocess.PIPE, text=True, env=environment)
        processes.append(sandbox)
        assert sandbox.stdout is not None
        environment["VEMRAT_PAY_BASE_URL"] = base = sandbox.stdout.readline().strip()
        subprocess.run([sys.executable, "-m", "shop.migrate"], cwd=shop_directory,
                       env=environment, check=True)
        port = free_port()
        shop = subprocess.Popen([sys.executable, "-m", "uvicorn", "shop.app:create_app",
                                 "--factory", "--port", str(port), "--workers", "1",
                                 "--log-level", "warning"], cwd=shop_directory, env=environment)
        processes.append(shop)
        wait_until_listening(shop, port)
        url = f"http://127.0.0.1:{port}"
        rule = {"endpoint": "payment", "fault": "delay", "seconds": arguments.delay,
                "count": arguments.starts}
        assert send("POST", base + "/sandbox/faults", json.dumps(rule).encode()).status == 200

        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        ping(connection)  # connected and warm
        results: multiprocessing.Queue = multiprocessing.Queue()  # type: ignore[type-arg]
        client = multiprocessing.Process(target=post_checkouts,
                                         args=(url, arguments.starts, results))
        began = time.perf_counter()
        client.start()
        latencies: list[float] = []
        done_at: float | None = None
        while done_at is None or time.perf_counter() < done_at + arguments.pings_after:
            latencies.append(ping(connection))
            if done_at is None and not client.is_alive():
                done_at = time.perf_counter()
        checkouts = results.get(timeout=60)
        client.join()
        elapsed = time.perf_counter() - began

        statuses = sorted({status for _, status in checkouts})
        times = [seconds for seconds, _ in checkouts]
        orders = len(send("GET", base + "/sandbox/orders").json()["data"])
        print(f"checkouts: {len(checkouts)} at once, answers {statuses}, each {min(times):.2f}-"
              f"{max(times):.2f} s (sandbox delay {arguments.delay:g} s), all done in "
              f"{elapsed:.2f} s; orders at the sandbox: {orders}")
        print(f"/ping while they waited: {len(latencies)} requests, p50 "
              f"{statistics.median(latencies) * 1000:.1f} ms, p99 "
              f"{percentile(latencies, 0.99) * 1000:.1f} ms, max {max(latencies) * 1000:.1f} ms")
    finally:
        for process in reversed(processes):
            stop(process)


def ping(connection: http.client.HTTPConnection) -> float:
    began = time.perf_counter()
    connection.request("GET", "/ping")
    response = connection.getresponse()
    body = response.read()
    assert response.status == 200 and re.search(rb'"ok"\s*:\s*true', body), body
    return time.perf_counter() - began


if __name__ == "__main__":
    main()
