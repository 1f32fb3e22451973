"""The example shops as a payer and the service meet them: the FastAPI shop under uvicorn on
PostgreSQL, the Flask shop under gunicorn on SQLite, the sandbox process delivering callbacks
to them over HTTP; and one headless Chromium run through each."""

from __future__ import annotations

import html
import re
import subprocess
import sys
import urllib.parse
from collections.abc import Iterator
from pathlib import Path

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from conftest import fresh_postgres_database
from shop_servers import RunningShop, http, running_shop

RECIPIENT = "2088000000000001"


@pytest.fixture(scope="module", params=["fastapi", "flask"])
def shop(request: pytest.FixtureRequest, tmp_path_factory: pytest.TempPathFactory
         ) -> Iterator[RunningShop]:
    if request.param == "fastapi":
        database = fresh_postgres_database(request.getfixturevalue("postgres"))
    else:
        database = f"sqlite:///{tmp_path_factory.mktemp('flask_shop') / 'shop.sqlite3'}"
    with running_shop(request.param, database) as running:
        yield running


def shown(page: str, element_id: str) -> str | None:
    found = re.search(rf'id="{element_id}"[^>]*>([^<]*)<', page)
    return html.unescape(found.group(1)) if found else None


def checkout(shop: RunningShop, amount: str) -> tuple[str, str, int, dict[str, str]]:
    """Fills in the checkout form as shown; (reference, page, status, headers) of the answer."""
    form = http("GET", shop.url + "/")
    assert form.status == 200
    reference = re.search(r'name="reference" value="([0-9a-f-]{36})"', form.text)
    assert reference is not None, form.text
    fields = {"amount": amount, "currency": "CNY", "recipient": RECIPIENT,
              "reference": reference.group(1)}
    body = urllib.parse.urlencode(fields).encode()
    answer = http("POST", shop.url + "/checkout", body,
                  {"Content-Type": "application/x-www-form-urlencoded"})
    return reference.group(1), answer.text, answer.status, answer.headers


def post_again(shop: RunningShop, reference: str, amount: str) -> int:
    body = urllib.parse.urlencode({"amount": amount, "currency": "CNY", "recipient": RECIPIENT,
                                   "reference": reference}).encode()
    return http("POST", shop.url + "/checkout", body,
                {"Content-Type": "application/x-www-form-urlencoded"}).status


def orders_of(shop: RunningShop, reference: str) -> list[dict[str, str]]:
    return [order for order in shop.orders() if reference in order["user_notify_url"]]


def test_a_payment_through_the_shop(shop: RunningShop) -> None:
    reference, _, status, headers = checkout(shop, "12.34")
    assert status == 303
    pay_url = headers["location"] if "location" in headers else headers["Location"]
    order_id = pay_url.rsplit("/", 1)[1]
    assert pay_url == f"{shop.sandbox_url}/pay/{order_id}"
    assert post_again(shop, reference, "12.34") == 303  # a double click: the same payment
    assert post_again(shop, reference, "99.00") == 409  # the same form with another amount
    assert [order["order_id"] for order in orders_of(shop, reference)] == [order_id]

    order = shop.act(order_id, "pay")
    delivered = order["callbacks"][-1]
    assert (delivered["url"], delivered["state"]) == (
        f"{shop.url}/vemrat-pay/callback/{reference}", "delivered")
    assert delivered["attempts"][-1]["status"] == 200

    page = http("GET", f"{shop.url}/orders/{reference}").text
    assert (shown(page, "pay-status"), shown(page, "amount")) == ("paid", "12.34 CNY")
    assert (shown(page, "receipt") or "").startswith("No. ")
    assert shown(page, "pay-link") is None


def test_an_order_whose_answer_was_lost_is_completed_by_its_callback(shop: RunningShop) -> None:
    shop.add_fault(endpoint="payment", fault="timeout_after_commit", seconds=30)
    reference, page, status, _ = checkout(shop, "64.00")
    assert (status, shown(page, "message")) == (504, (
        "The payment service did not answer in time. We are checking with it; nothing will "
        "be charged twice."))
    assert post_again(shop, reference, "64.00") == 504  # posted again: no second order
    [order] = orders_of(shop, reference)
    assert shown(http("GET", f"{shop.url}/orders/{reference}").text, "pay-status") == "unconfirmed"

    delivered = shop.act(order["order_id"], "pay")["callbacks"][-1]
    assert delivered["attempts"][-1]["status"] == 200
    page = http("GET", f"{shop.url}/orders/{reference}").text
    assert shown(page, "pay-status") == "paid"
    assert (shown(page, "receipt") or "").startswith("No. ")
    assert len(orders_of(shop, reference)) == 1


def test_callbacks_that_do_not_verify_or_match_nothing_are_refused(shop: RunningShop) -> None:
    reference, _, status, _ = checkout(shop, "5.00")
    assert status == 303
    cases = {
        f"/vemrat-pay/callback/{reference}": (400, "invalid callback"),
        "/vemrat-pay/callback/00000000-0000-4000-8000-000000000000": (400, "invalid callback"),
    }
    for path, expected in cases.items():
        answer = http("POST", shop.url + path, b'{"status":"paid"}',
                      {"X-Vemrat-Signature": "0" * 64, "Content-Type": "application/json"})
        assert (answer.status, answer.text) == expected, path


def test_flask_reconcile_command_completes_what_a_callback_could_not(
        shop: RunningShop) -> None:
    if shop.name != "flask":
        pytest.skip("the reconcile command is the Flask integration's")
    shop.add_fault(endpoint="payment", fault="timeout_after_commit", seconds=30)
    reference, _, status, _ = checkout(shop, "77.00")
    assert status == 504
    [order] = orders_of(shop, reference)
    shop.add_fault(endpoint="order_status", fault="error", status=503, detail="maintenance")
    assert shop.act(order["order_id"], "pay")["callbacks"][-1]["attempts"][-1]["status"] == 503

    result = subprocess.run([sys.executable, "-m", "flask", "--app", "shop", "vemrat-pay",
                             "reconcile", "--older-than", "0"], cwd=shop.directory,
                            env=shop.environment, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    # The module's other open payments are refreshed too, unchanged.
    lines = result.stdout.splitlines()
    assert [line.split("] ", 1)[1] for line in lines if reference in line] == [
        f"{reference} changed: order id {order['order_id']} learned, unconfirmed -> paid"]
    assert re.fullmatch(r"\d+ payments refreshed: 1 changed, \d+ unchanged, 0 held, "
                        r"0 no order id, 0 failed", lines[-1]), lines[-1]
    assert shown(http("GET", f"{shop.url}/orders/{reference}").text, "pay-status") == "paid"


def test_a_payer_checks_out_in_a_browser(shop: RunningShop, browser) -> None:  # type: ignore[no-untyped-def]
    browser.get(shop.url + "/")
    browser.find_element(By.NAME, "amount").send_keys("23.45")
    browser.find_element(By.NAME, "recipient").send_keys(RECIPIENT)
    browser.find_element(By.CSS_SELECTOR, "button[type=submit]").click()

    WebDriverWait(browser, 30).until(lambda driver: "/pay/" in driver.current_url)
    assert browser.find_element(By.ID, "amount").text == "23.45 CNY"
    browser.find_element(By.ID, "pay").click()

    WebDriverWait(browser, 30).until(lambda driver: "/orders/" in driver.current_url)
    # The return page asked the service itself: paid, whether or not the callback came first.
    assert browser.find_element(By.ID, "pay-status").text == "paid"
    assert browser.find_element(By.ID, "amount").text == "23.45 CNY"
    # The receipt is issued by the receiver of `paid`, which the request that made the
    # transition (the callback's, or this page's) runs after its commit: reload until it is.
    WebDriverWait(browser, 30).until(
        lambda driver: driver.refresh() or driver.find_elements(By.ID, "receipt"))
    assert browser.find_element(By.ID, "receipt").text.startswith("No. ")
    assert not browser.find_elements(By.ID, "pay-link")
