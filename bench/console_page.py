"""The dashboard under a working day's load: 1,000 orders and 10,000 callback delivery attempts.

Fills a sandbox's store directly (two deliveries of five attempts each per order, over two
merchants and every order state), then times the pages over one kept-alive HTTP connection on
127.0.0.1: the whole round trip of each GET, and the server's own share of it (from routing the
request to the last byte of the answer written). With --screens DIR it also opens the pages in
headless Chromium, saves screenshots there and reports the height of a row.

    .venv/bin/python bench/console_page.py [--rounds 50] [--screens DIR]
"""

from __future__ import annotations

import argparse
import http.client
import json
import os
import shutil
import statistics
import sys
import time
import urllib.parse

from vemrat_pay_sandbox import Sandbox
from vemrat_pay_sandbox.store.deliveries import DELIVERED, DROPPED, FAILED, HELD
from vemrat_pay_sandbox.timestamps import iso_utc
from vemrat_pay_sandbox.web.handler import SandboxHandler

ORDERS = 1000
DELIVERIES_PER_ORDER = 2
ATTEMPTS_PER_DELIVERY = 5
MERCHANTS = {"shop-north": "sk-north", "shop-south": "sk-south"}
START = 1_800_000_000


def fill(sandbox: Sandbox) -> None:
    store = sandbox.store
    for number in range(ORDERS):
        created = START + number * 30
        order_id = f"VP{number:024x}"
        reference = f"{number:08d}-7c1e-4a2b-9d3f-{number:012d}"
        pay_status = (0, 1, 1, 2, 3, 1)[number % 6]
        amount = f"{10 + number % 90}.{number % 100:02d}"
        settled = pay_status == 1 and number % 4 == 1
        order = {"order_id": order_id, "community_key": list(MERCHANTS)[number % 2],
                 "amount": amount, "currency": "CNY",
                 "recipient_account": "2088000000000001",
                 "user_notify_url": f"https://shop.example/vemrat-pay/callback/{reference}/",
                 "pay_mode": "split" if number % 3 else "direct",
                 "return_url": f"https://shop.example/orders/{reference}/",
                 "pay_status": pay_status, "settle_status": int(settled),
                 "refund_status": int(pay_status == 1 and number % 12 == 2),
                 "settle_amount": amount if settled else "0.00", "fail_reason": "", "created": iso_utc(created),
                 "expired": iso_utc(created + 1800)}
        assert store.add_order(order, f"nonce-{number}", iso_utc(created))
        for delivery in range(DELIVERIES_PER_ORDER):
            body = json.dumps({"order_id": order_id, "status": ("paid", "settled")[delivery]})
            state = (DELIVERED, FAILED, DROPPED, HELD)[(number + delivery) % 4]
            delivery_id = store.deliveries.add(order_id, order["user_notify_url"], body, "0" * 64,
                                               cause="event", state=state, due=None,
                                               created=iso_utc(created))
            for attempt in range(ATTEMPTS_PER_DELIVERY):
                last = attempt == ATTEMPTS_PER_DELIVERY - 1 and state == DELIVERED
                store.deliveries.record_attempt(
                    delivery_id, status=200 if last else 503, error="" if last else "HTTP 503",
                    sent=iso_utc(created + attempt), state=state, due=None)


VIEWS = {
    "every order, page 1": "/sandbox/",
    "every order, page 20 (the last)": "/sandbox/?page=20",
    "one merchant": "/sandbox/?merchant=shop-north",
    "paid": "/sandbox/?state=paid",
    "latest callback failed": "/sandbox/?state=callback-failed",
    "text: part of a URL": "/sandbox/?q=" + urllib.parse.quote("-000000000421"),
    "merchant, state and text": "/sandbox/?merchant=shop-south&state=paid&q=shop.example",
    "one order's page (10 attempts)": f"/sandbox/dashboard/orders/VP{421:024x}",
}


def server_times() -> list[float]:
    """From now on, the time the server takes to route and answer each request."""
    times: list[float] = []
    answer = SandboxHandler._route

    def timed(handler: SandboxHandler, method: str) -> None:
        started = time.perf_counter()
        try:
            answer(handler, method)
        finally:
            times.append(time.perf_counter() - started)

    SandboxHandler._route = timed  # type: ignore[method-assign]
    return times


def time_views(base_url: str, rounds: int) -> None:
    host, port = urllib.parse.urlsplit(base_url).netloc.rsplit(":", 1)
    connection = http.client.HTTPConnection(host, int(port), timeout=30)
    on_server = server_times()
    print(f"{'view':<34} {'round trip: median':>18} {'p90':>9} {'max':>9}   {'server: median':>14} "
          f"{'max':>9} {'HTML':>10}  rows")
    for name, path in VIEWS.items():
        times = []
        del on_server[:]
        for _ in range(rounds):
            started = time.perf_counter()
            connection.request("GET", path)
            answer = connection.getresponse()
            body = answer.read()
            times.append(time.perf_counter() - started)
            assert answer.status == 200, (path, answer.status)
        times.sort()
        rows = body.count(b"<tr id=")
        print(f"{name:<34} {statistics.median(times) * 1e3:15.2f} ms "
              f"{times[int(len(times) * 0.9)] * 1e3:6.2f} ms {times[-1] * 1e3:6.2f} ms   "
              f"{statistics.median(on_server) * 1e3:11.2f} ms {max(on_server) * 1e3:6.2f} ms "
              f"{len(body) / 1024:7.1f} KB  {rows}")
    connection.close()


def screenshots(base_url: str, directory: str) -> None:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By

    os.makedirs(directory, exist_ok=True)
    options = webdriver.ChromeOptions()
    # Debian's chromium and chromedriver, named so that selenium looks for nothing to download.
    options.binary_location = shutil.which("chromium") or "chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--window-size=1400,1000"):
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options, service=Service(
        executable_path=shutil.which("chromedriver") or "chromedriver"))
    try:
        for name, path in (("console-1000-orders", "/sandbox/"),
                           ("console-1000-orders-filtered",
                            "/sandbox/?merchant=shop-south&state=paid&q=shop.example"),
                           ("console-rule-form", "/sandbox/#add-rule"),
                           ("console-order-page", f"/sandbox/dashboard/orders/VP{421:024x}")):
            driver.get(base_url + path)
            if name == "console-rule-form":
                driver.find_element(By.CSS_SELECTOR, "#add-rule summary").click()
            heights = driver.execute_script(
                "return [...document.querySelectorAll('#orders tbody tr')]"
                ".map(row => row.getBoundingClientRect().height)")
            if heights:
                print(f"{name}: {len(heights)} rows, each {min(heights):.1f} to "
                      f"{max(heights):.1f} px high")
            driver.save_screenshot(os.path.join(directory, f"{name}.png"))
            if name == "console-1000-orders-filtered":
                # Its end too, with the links to the other pages.
                driver.execute_script("window.scrollTo(0, document.body.scrollHeight)")
                driver.save_screenshot(os.path.join(directory, f"{name}-end.png"))
    finally:
        driver.quit()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--screens", metavar="DIR", help="save screenshots of the pages here")
    options = parser.parse_args()
    with Sandbox(MERCHANTS, db=":memory:") as sandbox:
        started = time.perf_counter()
        fill(sandbox)
        attempts = ORDERS * DELIVERIES_PER_ORDER * ATTEMPTS_PER_DELIVERY
        print(f"{ORDERS:,} orders, {ORDERS * DELIVERIES_PER_ORDER:,} deliveries, {attempts:,} "
              f"attempts stored in {time.perf_counter() - started:.1f} s; Python "
              f"{sys.version.split()[0]}, {os.cpu_count()} CPUs, load {os.getloadavg()[0]:.1f}")
        time_views(sandbox.base_url, options.rounds)
        if options.screens:
            # Two rules in force, listed at the top of every screenshot of the list.
            sandbox.add_fault("error", "order_status", status=503, count=3)
            sandbox.add_fault("drop", "callback", merchant="shop-north")
            screenshots(sandbox.base_url, options.screens)


if __name__ == "__main__":
    main()
