"""The dashboard at /sandbox/: its views of the orders, the order pages, the fault rule forms
and the live updates, over plain HTTP and in headless Chromium as a developer uses them."""

from __future__ import annotations

import json
import socket
import urllib.parse

import pytest
from html_tree import form_fields, parse
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER, Sandbox
from wire import CallbackReceiver, Merchant, control, exchange, wait_until

MERCHANTS = {"ck-one": "sk-one", "ck-two": "sk-two"}
HOSTILE = "<script>document.title='owned'</script>"
PAGE_SIZE = 50
DEAD_URL = "http://127.0.0.1:9/dead/callback"


def page(sandbox, path="/sandbox/", status=200):
    answer = exchange(sandbox.base_url + path)
    assert answer.status == status, (answer.status, answer.body[:300])
    assert answer.headers.get_content_type() == "text/html"
    return parse(answer.body.decode())


def listed_ids(tree):
    return [row.get("id") for row in tree.find("tbody").find_all("tr")]


def token_of(tree):
    return tree.find("input", name="form_token").get("value")


def post_form(sandbox, path, fields):
    return exchange(sandbox.base_url + path, "POST", urllib.parse.urlencode(fields).encode())


# -- the list of orders ---------------------------------------------------------------------

@pytest.fixture(scope="module")
def day():
    """A sandbox after a small working day: 61 orders of two merchants in every state, with
    callbacks delivered, failed and dropped; `day.shop_url` is the receiver's URL."""
    with Sandbox(merchants=MERCHANTS, db=":memory:", retry_delays=(0.01, 0.02)) as sandbox, \
            CallbackReceiver() as shop:
        merchants = [Merchant(sandbox.base_url, key, secret) for key, secret in MERCHANTS.items()]
        for number in range(61):
            merchant = merchants[number % 3 == 2]
            notify = (DEAD_URL if number % 7 == 3 else
                      f"{shop.url}/ref-{number:03d}?shop_order={number}")
            order_id = merchant.new_order(amount=str(10 + number), user_notify_url=notify,
                                          return_url=f"http://shop.example/Orders/{number:03d}_x%",
                                          pay_mode="direct" if number % 2 else "split")
            if number % 11 == 5:
                sandbox.add_fault("drop", "callback")
            action = ("", "pay", "fail", "expire", "pay")[number % 5]
            if action:
                assert control(sandbox.base_url, order_id, action).status == 200
            if number % 5 == 4 and number % 10 != 9:
                assert control(sandbox.base_url, order_id, "settle").status == 200
            if number % 10 == 9:
                assert control(sandbox.base_url, order_id, "refund").status == 200
        sandbox.wait_for_callbacks(30)
        sandbox.shop_url = shop.url
        yield sandbox


def latest_delivery_state(sandbox, order_id):
    callbacks = sandbox.order(order_id)["callbacks"]
    return callbacks[-1]["state"] if callbacks else ""


# Each case: the query, and which orders it selects, decided from the sandbox's records.
FILTER_CASES = {
    "every order": ("", lambda o, s: True),
    "one merchant": ("merchant=ck-two", lambda o, s: o["community_key"] == "ck-two"),
    "pending": ("state=pending", lambda o, s: o["pay_status"] == 0),
    "paid": ("state=paid", lambda o, s: o["pay_status"] == 1),
    "failed": ("state=failed", lambda o, s: o["pay_status"] == 2),
    "expired": ("state=expired", lambda o, s: o["pay_status"] == 3),
    "settled": ("state=settled", lambda o, s: o["settle_status"] == 1),
    "refunded": ("state=refunded", lambda o, s: o["refund_status"] == 1),
    "latest callback failed": ("state=callback-failed", lambda o, s: s == "failed"),
    "latest callback delivered": ("state=callback-delivered", lambda o, s: s == "delivered"),
    "latest callback dropped": ("state=callback-dropped", lambda o, s: s == "dropped"),
    "part of the callback URL": ("q=ref-04", lambda o, s: "ref-04" in o["user_notify_url"]),
    "its query": ("q=shop_order%3D12", lambda o, s: o["user_notify_url"].endswith("shop_order=12")),
    "part of the return URL, in another case": (
        "q=orders%2F05", lambda o, s: "/Orders/05" in o["return_url"]),
    "a % and a _ are plain text": ("q=7_x%25", lambda o, s: "7_x%" in o["return_url"]),
    "not wildcards": ("q=%25_x", lambda o, s: "%_x" in o["return_url"]),
    "no order": ("q=nothing-like-this", lambda o, s: False),
    "merchant, state and text together": (
        "merchant=ck-one&state=paid&q=ref-0",
        lambda o, s: o["community_key"] == "ck-one" and o["pay_status"] == 1
        and "ref-0" in o["user_notify_url"]),
}


@pytest.mark.parametrize("query, selects", FILTER_CASES.values(), ids=FILTER_CASES.keys())
def test_the_filters_select_the_orders_newest_first_and_pages_link_through_them(day, query, selects):
    expected = [order["order_id"] for order in reversed(day.orders())
                if selects(order, latest_delivery_state(day, order["order_id"]))]
    shown, path, pages = [], f"/sandbox/?{query}", 0
    while path:
        tree = page(day, path)
        rows = listed_ids(tree)
        assert len(rows) <= PAGE_SIZE
        shown += rows
        pages += 1
        following = tree.find_all("a", rel="next")
        path = following[0].get("href") if following else None
        if path:
            # A plain link that keeps the filter: the same query with the next page.
            fields = urllib.parse.parse_qs(urllib.parse.urlsplit(path).query)
            assert fields.pop("page") == [str(pages + 1)]
            assert fields == urllib.parse.parse_qs(query)
    assert shown == expected
    assert pages == max(1, -(-len(expected) // PAGE_SIZE))
    summary = tree.find(id="orders-summary").text
    assert (f"of {len(expected)}," in summary) if expected else summary == "No orders match."


def test_an_order_id_finds_its_order_and_each_row_shows_its_fields(day):
    order = day.orders()[12]
    tree = page(day, "/sandbox/?q=" + order["order_id"][3:17])
    [row] = tree.find("tbody").find_all("tr")
    # The order id heads its row.
    cells = {cell.classes[0]: cell.text for cell in row.find_all(test=lambda e: e.tag in ("td", "th"))}
    assert row.find("th").get("scope") == "row" and row.find("th").classes == ["order"]
    assert cells == {
        "created": order["created"][5:].replace("T", " ").removesuffix("Z"),
        "order": order["order_id"], "merchant": "ck-one", "amount": "22.00 CNY", "mode": "split",
        "payment": "failed", "settlement": "unsettled", "refund": "none",
        "callbacks": "delivered (1)", "reference": "shop_order=12",
        "notify-url": f"{day.shop_url}/ref-012?shop_order=12"}
    assert row.find("a").get("href") == f"/sandbox/dashboard/orders/{order['order_id']}"
    # The merchant's name links to that merchant's orders.
    assert row.find("td", class_="merchant").find("a").get("href") == "/sandbox/?merchant=ck-one"


@pytest.mark.parametrize("query, detail", [
    ("merchant=ck-nobody", "unknown merchant: 'ck-nobody'"),
    ("state=lost", "unknown state: 'lost'"),
    ("page=0", "page must be a whole number from 1: '0'"),
    ("page=two", "page must be a whole number from 1: 'two'"),
    ("page=" + "9" * 5000, "page must be a whole number from 1"),
    (f"state={urllib.parse.quote(HOSTILE)}", "unknown state"),
])
def test_a_view_that_cannot_be_shown_says_why(sandbox, query, detail):
    tree = page(sandbox, f"/sandbox/?{query}", status=400)
    assert tree.find(id="message").text.startswith(detail)
    assert tree.find(id="back").get("href") == "/sandbox/"
    assert not tree.find_all("script")


def test_a_page_past_the_last_shows_the_last(day):
    last = page(day, "/sandbox/?page=2")
    assert listed_ids(page(day, "/sandbox/?page=9")) == listed_ids(last)
    assert last.find(id="page-of").text == "Page 2 of 2"


# -- one order's page ---------------------------------------------------------------------------

# The buttons each state leaves enabled, and why each of the others is disabled.
BUTTON_CASES = {
    "pending": ([], {"pay": "", "fail": "", "expire": "", "settle": "cannot settle an order that is pending",
                     "refund": "cannot refund an order that is pending",
                     "resend": "order has no callback to resend"}),
    "paid": (["pay"], {"pay": "cannot pay an order that is paid", "fail": "cannot fail an order that is paid",
                       "expire": "cannot expire an order that is paid", "settle": "", "refund": "",
                       "resend": ""}),
    "settled": (["pay", "settle"], {"pay": "cannot pay an order that is paid",
                                    "fail": "cannot fail an order that is paid",
                                    "expire": "cannot expire an order that is paid",
                                    "settle": "order is already settled", "refund": "", "resend": ""}),
    "refunded": (["pay", "refund"], {"pay": "cannot pay an order that is paid",
                                     "fail": "cannot fail an order that is paid",
                                     "expire": "cannot expire an order that is paid",
                                     "settle": "cannot settle a refunded order",
                                     "refund": "order is already refunded", "resend": ""}),
    "failed": (["fail"], {"pay": "cannot pay an order that is failed",
                          "fail": "cannot fail an order that is failed",
                          "expire": "cannot expire an order that is failed",
                          "settle": "cannot settle an order that is failed",
                          "refund": "cannot refund an order that is failed", "resend": ""}),
}


@pytest.mark.parametrize("actions, reasons", BUTTON_CASES.values(), ids=BUTTON_CASES.keys())
def test_each_disabled_button_says_why(sandbox, merchant, actions, reasons):
    order_id = merchant.new_order(return_url="http://shop.example/orders/42")
    sandbox.add_fault("drop", "callback", count=len(actions) or 1)
    for action in actions:
        assert control(sandbox.base_url, order_id, action).status == 200
    tree = page(sandbox, f"/sandbox/dashboard/orders/{order_id}")
    shown = {}
    for item in tree.find("ul", class_="actions").find_all("li"):
        button = item.find("button")
        reason = item.find_all(class_="why")
        assert ("disabled" in button.attrs) == bool(reason)
        if reason:
            assert button.get("aria-describedby") == reason[0].get("id")
        shown[button.get("name")] = reason[0].text if reason else ""
    assert shown == reasons
    fields = {row.find("th").text: row.find("td").text
              for row in tree.find("table", class_="fields").find_all("tr")}
    # Only a pending order can still expire.
    assert ("Expires" in fields) == (not actions)
    assert fields["Callback URL"] == "http://127.0.0.1:9/callback"
    assert fields["Return URL"] == "http://shop.example/orders/42"
    assert fields["Shop reference"] == "callback"


def test_an_order_without_return_url_says_so_and_an_unknown_order_is_a_404(sandbox, merchant):
    order_id = merchant.new_order(return_url=None)
    fields = {row.find("th").text: row.find("td").text for row in
              page(sandbox, f"/sandbox/dashboard/orders/{order_id}").find("table").find_all("tr")}
    assert fields["Return URL"] == "none"
    tree = page(sandbox, "/sandbox/dashboard/orders/VPnothing", status=404)
    assert tree.find(id="message").text == "unknown order"


@pytest.mark.parametrize("amount, status, settled", [
    ("7.5", 303, "7.50"),
    ("12.00", 303, "12.00"),
    ("", 303, "12.00"),  # the whole amount, as the control API settles without one
    ("12.01", 409, None),
    ("seven", 400, None),
    (HOSTILE, 400, None),
])
def test_settle_takes_the_amount_typed(sandbox, merchant, amount, status, settled):
    order_id = merchant.new_order(amount="12")
    control(sandbox.base_url, order_id, "pay")
    tree = page(sandbox, f"/sandbox/dashboard/orders/{order_id}")
    form = tree.find("form", action=f"/sandbox/dashboard/orders/{order_id}/settle")
    fields = form_fields(form)
    assert fields["amount"] == "12.00"
    answer = post_form(sandbox, f"/sandbox/dashboard/orders/{order_id}/settle", {**fields, "amount": amount})
    assert answer.status == status, answer.body
    if settled:
        assert answer.headers["Location"] == f"/sandbox/dashboard/orders/{order_id}"
        settled_order = sandbox.order(order_id)
        assert (settled_order["settle_status"], settled_order["settle_amount"]) == (1, settled)
    else:
        tree = parse(answer.body.decode())
        assert tree.find(id="back").get("href") == f"/sandbox/dashboard/orders/{order_id}"
        assert not tree.find_all("script")
        assert sandbox.order(order_id)["settle_status"] == 0


def test_fail_takes_the_reason_typed(sandbox, merchant):
    order_id = merchant.new_order()
    tree = page(sandbox, f"/sandbox/dashboard/orders/{order_id}")
    fields = form_fields(tree.find("form", action=f"/sandbox/dashboard/orders/{order_id}/fail"))
    assert post_form(sandbox, f"/sandbox/dashboard/orders/{order_id}/fail",
                     {**fields, "reason": HOSTILE}).status == 303
    assert sandbox.order(order_id)["fail_reason"] == HOSTILE
    reason = page(sandbox, f"/sandbox/dashboard/orders/{order_id}").find("td", class_="reason")
    assert reason.text == HOSTILE and not reason.find_all()


# Each field, and whether the order's row in the list shows it (its page shows every one).
@pytest.mark.parametrize("name, in_row", [("currency", True), ("recipient_account", False),
                                          ("user_notify_url", True), ("return_url", False)])
def test_every_order_field_reaches_the_pages_escaped(sandbox, merchant, name, in_row):
    value = f"http://127.0.0.1:9/{HOSTILE}" if name.endswith("url") else HOSTILE
    order_id = merchant.new_order(**{name: value})
    sandbox.add_fault("drop", "callback")
    assert control(sandbox.base_url, order_id, "pay").status == 200
    # The text filter finds an order by its URLs.
    searched = "/sandbox/?q=" + urllib.parse.quote(HOSTILE)
    for path, shown in (("/sandbox/", in_row), (f"/sandbox/dashboard/orders/{order_id}", True),
                        (searched, in_row and name.endswith("url"))):
        tree = page(sandbox, path)
        assert not [script for script in tree.find_all("script") if not script.get("src")]
        assert any(HOSTILE in element.text for element in tree.find_all("td")) == shown, path
    # The text searched for is shown back in its box as text, not markup.
    box = page(sandbox, "/sandbox/?q=" + urllib.parse.quote(HOSTILE)).find("input", id="filter-text")
    assert box.get("value") == HOSTILE


# -- the fault rule forms -----------------------------------------------------------------------

# Each form submitted as the page fills it in, and the rule it adds (the README's examples).
RULE_FORM_CASES = {
    "rule-request-timeout_after_commit": {"endpoint": "payment", "fault": "timeout_after_commit",
                                          "seconds": 30.0, "count": 1},
    "rule-request-error": {"endpoint": "order_status", "fault": "error", "status": 503,
                           "detail": "Service Unavailable", "count": 3},
    "rule-request-malformed": {"endpoint": "payment", "fault": "malformed", "body": "no_data",
                               "count": 1},
    "rule-request-delay": {"endpoint": "payment", "fault": "delay", "seconds": 4.0, "count": 1},
    "rule-callback-duplicate": {"endpoint": "callback", "fault": "duplicate", "count": 1},
    "rule-callback-delay": {"endpoint": "callback", "fault": "delay", "seconds": 60.0, "count": 1},
    "rule-callback-drop": {"endpoint": "callback", "fault": "drop", "count": 1},
    "rule-callback-reorder": {"endpoint": "callback", "fault": "reorder", "count": 1},
}


def test_there_is_a_form_for_every_fault_and_each_adds_its_example_rule(sandbox):
    tree = page(sandbox)
    forms = {form.get("id"): form for form in tree.find_all("form", class_="rule-form")}
    assert set(forms) == set(RULE_FORM_CASES)
    for form_id, expected in RULE_FORM_CASES.items():
        sandbox.clear_faults()
        answer = post_form(sandbox, forms[form_id].get("action"), form_fields(forms[form_id]))
        assert (answer.status, answer.headers["Location"]) == (303, "/sandbox/#rules")
        [rule] = sandbox.faults()
        assert {name: value for name, value in rule.items() if name != "id"} == \
            {"merchant": None, **expected}, form_id
        # The page lists the rule, with a button that removes it.
        remove = page(sandbox).find("button", class_="remove-rule")
        assert remove.get("aria-label") == f"Remove rule {rule['id']}"


@pytest.mark.parametrize("changes, detail", [
    ({"count": "0"}, "count must be a whole number from 1 to 1e+06"),
    ({"count": "1.5"}, "count must be a whole number from 1 to 1e+06"),
    ({"count": "9" * 5000}, "count must be a whole number from 1 to 1e+06"),
    ({"seconds": "soon"}, "seconds must be a number from 0 to 3600"),
    ({"seconds": "nan"}, "seconds must be a number from 0 to 3600"),
    ({"merchant": HOSTILE}, f"invalid merchant: {HOSTILE!r} is not a known community key"),
    ({"endpoint": "callback"}, "invalid fault for endpoint callback: 'timeout_after_commit'"),
], ids=["count 0", "count 1.5", "count of 5,000 digits", "seconds as a word", "seconds nan",
        "hostile merchant", "a request fault for callbacks"])
def test_a_rule_the_sandbox_refuses_shows_why_and_adds_nothing(sandbox, changes, detail):
    form = page(sandbox).find("form", id="rule-request-timeout_after_commit")
    answer = post_form(sandbox, "/sandbox/dashboard/faults", {**form_fields(form), **changes})
    assert answer.status == 400
    tree = parse(answer.body.decode())
    assert tree.find(id="message").text.startswith(detail)
    assert not tree.find_all("script")
    assert sandbox.faults() == []


def test_a_rule_with_hostile_text_is_listed_as_text(sandbox):
    form = page(sandbox).find("form", id="rule-request-error")
    assert post_form(sandbox, "/sandbox/dashboard/faults",
                     {**form_fields(form), "detail": HOSTILE, "merchant": "ck-two"}).status == 303
    rows = page(sandbox).find("table", id="faults").find_all("tr")[1:]
    cells = [cell.text for cell in rows[0].find_all("td")][:6]
    assert cells == ["1", "ck-two", "order_status", "error",
                     json.dumps({"status": 503, "detail": HOSTILE}), "3"]


def test_rules_are_removed_one_by_one_or_all_at_once(sandbox):
    for seconds in (1, 2, 3):
        sandbox.add_fault("delay", "callback", seconds=seconds)
    token = token_of(page(sandbox))
    assert post_form(sandbox, "/sandbox/dashboard/faults/2/remove", {"form_token": token}).status == 303
    assert [rule["id"] for rule in sandbox.faults()] == [1, 3]
    # The control API removes one too, and says when there is none.
    assert exchange(f"{sandbox.base_url}/sandbox/faults/3", "DELETE").data == sandbox.faults()
    assert exchange(f"{sandbox.base_url}/sandbox/faults/3", "DELETE").detail == "no fault rule with this id"
    assert post_form(sandbox, "/sandbox/dashboard/faults/clear", {"form_token": token}).status == 303
    assert sandbox.faults() == []
    assert page(sandbox).find(id="no-faults").text == "No fault rules in force."


def test_the_version_moves_with_orders_attempts_and_rules(sandbox, merchant):
    def version():
        return exchange(f"{sandbox.base_url}/sandbox/dashboard/version").body

    seen = [version()]
    order_id = merchant.new_order()
    seen.append(version())
    control(sandbox.base_url, order_id, "pay")
    sandbox.wait_for_callbacks()
    seen.append(version())
    sandbox.add_fault("drop", "callback")
    seen.append(version())
    assert len(set(seen)) == 4
    assert version() == seen[-1]
    # The page carries the version of what it shows.
    assert page(sandbox).find("meta", name="sandbox-version").get("content") == seen[-1].decode()


# -- in the browser -----------------------------------------------------------------------------

@pytest.fixture
def shop():
    with CallbackReceiver() as receiver:
        yield receiver


def press(browser, element):
    """Clicks a button or link and waits until the page it leads to has replaced this one.

    A new document comes with a new window object, so a mark left on this one tells the pages
    apart. Asking about the old page's elements instead fails now and then: while the page is
    being replaced, chromedriver may answer "unknown error: ... does not belong to the
    document" rather than that the element is stale. Any such error during the replacement is
    retried, and only the deadline fails the test.
    """
    browser.execute_script("window.beforePress = true")
    element.click()
    wait_for_new_page(browser)


def wait_for_new_page(browser):
    WebDriverWait(browser, 15, ignored_exceptions=(WebDriverException,)).until(
        lambda driver: driver.execute_script(
            "return document.readyState === 'complete' && window.beforePress === undefined"))


def until(browser, condition, timeout=30):
    """Waits for `condition(browser)` to be true; elements swapped meanwhile are asked again."""
    return WebDriverWait(browser, timeout, ignored_exceptions=(WebDriverException,)).until(condition)


def caught_up(browser, sandbox):
    """Waits until every callback due has been tried and the page shows the latest version."""
    sandbox.wait_for_callbacks(30)
    current = exchange(f"{sandbox.base_url}/sandbox/dashboard/version").body.decode()
    until(browser, lambda driver: driver.find_element(
        By.CSS_SELECTOR, 'meta[name="sandbox-version"]').get_attribute("content") == current)


def cell(browser, order_id, name):
    return browser.find_element(By.ID, order_id).find_element(By.CSS_SELECTOR, f"td.{name}").text


def test_a_rule_added_by_its_form_times_a_create_out_and_the_order_appears_without_reload(
        sandbox, shop, browser, monkeypatch):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", sandbox.base_url)
    browser.get(f"{sandbox.base_url}/sandbox/")
    browser.find_element(By.CSS_SELECTOR, "#add-rule summary").click()
    form = browser.find_element(By.ID, "rule-request-timeout_after_commit")
    assert form.find_element(By.NAME, "seconds").get_attribute("value") == "30"
    press(browser, form.find_element(By.TAG_NAME, "button"))
    rows = browser.find_elements(By.CSS_SELECTOR, "#faults tr")[1:]
    assert [c.text for c in rows[0].find_elements(By.TAG_NAME, "td")][:6] == \
        ["1", "every merchant", "payment", "timeout_after_commit", '{"seconds": 30.0}', "1"]
    assert browser.find_element(By.ID, "orders-summary").text == "No orders yet."

    # From here on the page is never reloaded: this mark would be gone with a new document.
    browser.execute_script("window.sameDocument = true")
    client = vemrat_pay.Client("ck-one", "sk-one")
    previous = socket.getdefaulttimeout()
    socket.setdefaulttimeout(2)
    try:
        with pytest.raises(OSError) as raised:  # TimeoutError, or urllib's URLError around it
            client.create_payment(25.5, "CNY", "2088000000000001", f"{shop.url}/ref-7",
                                  return_url="http://shop.example/orders/7")
    finally:
        socket.setdefaulttimeout(previous)
    assert "timed out" in str(raised.value)
    # The create went through; only its answer was withheld. (On a busy machine the client may
    # give up before the sandbox has stored the order.)
    wait_until(sandbox.orders, timeout=20)
    [order] = sandbox.orders()
    order_id = order["order_id"]

    until(browser, lambda driver: driver.find_elements(By.ID, order_id))
    caught_up(browser, sandbox)
    assert cell(browser, order_id, "amount") == "25.50 CNY"
    assert cell(browser, order_id, "payment") == "pending"
    assert cell(browser, order_id, "notify-url") == f"{shop.url}/ref-7"
    # The rule was used up, and the list of rules followed too.
    until(browser, lambda driver: driver.find_elements(By.ID, "no-faults"))
    row_height = browser.execute_script(
        f"return document.getElementById('{order_id}').getBoundingClientRect().height")
    assert 20 <= row_height <= 48

    # The payer pays after all; the callback's delivery shows in the row as it happens.
    assert control(sandbox.base_url, order_id, "pay").status == 200
    until(browser, lambda driver: cell(driver, order_id, "callbacks") == "delivered (1)")
    assert cell(browser, order_id, "payment") == "paid"
    assert browser.execute_script("return window.sameDocument") is True
    assert browser.find_element(By.ID, "live-status").text == \
        "Follows new orders and callbacks without a reload."
    assert browser.find_element(By.ID, "live-updated").text.startswith("Updated at ")


def test_a_developer_finds_an_order_by_keyboard_and_drives_it_from_its_page(
        sandbox, merchant, shop, browser):
    older = merchant.new_order(amount="5", user_notify_url=f"{shop.url}/ref-older")
    order_id = merchant.new_order(amount="12.5", currency=HOSTILE, recipient_account=HOSTILE,
                                  user_notify_url=f"{shop.url}/ref-wanted")
    browser.get(f"{sandbox.base_url}/sandbox/")
    assert browser.title == "Vemrat sandbox dashboard"
    assert [row.get_attribute("id") for row in browser.find_elements(By.CSS_SELECTOR, "tbody tr")] == \
        [order_id, older]
    assert cell(browser, order_id, "amount") == f"12.50 {HOSTILE}"
    assert browser.title == "Vemrat sandbox dashboard"  # no script of the order's ran

    # The search box, typed into and submitted with Enter.
    browser.execute_script("window.beforePress = true")
    box = browser.find_element(By.ID, "filter-text")
    box.send_keys("ref-wanted", Keys.ENTER)
    wait_for_new_page(browser)
    assert browser.current_url == f"{sandbox.base_url}/sandbox/?merchant=&state=&q=ref-wanted"
    assert [row.get_attribute("id") for row in browser.find_elements(By.CSS_SELECTOR, "tbody tr")] == \
        [order_id]
    # The order's link, reached with Tab from the search box and followed with Enter.
    browser.execute_script("window.beforePress = true")
    focused = browser.find_element(By.ID, "filter-text")
    for _ in range(10):
        focused.send_keys(Keys.TAB)
        focused = browser.switch_to.active_element
        if focused.text == order_id:
            break
    assert focused.text == order_id
    # A new order that matches comes in; the link keeps the keyboard's focus.
    newer = merchant.new_order(user_notify_url=f"{shop.url}/ref-wanted-too")
    until(browser, lambda driver: [row.get_attribute("id") for row in
                                   driver.find_elements(By.CSS_SELECTOR, "tbody tr")] == [newer, order_id])
    focused = browser.switch_to.active_element
    assert focused.text == order_id
    focused.send_keys(Keys.ENTER)
    wait_for_new_page(browser)
    assert browser.current_url == f"{sandbox.base_url}/sandbox/dashboard/orders/{order_id}"

    enabled = [button.get_attribute("name")
               for button in browser.find_elements(By.CSS_SELECTOR, ".actions button")
               if button.is_enabled()]
    assert enabled == ["pay", "fail", "expire"]
    press(browser, browser.find_element(By.NAME, "pay"))
    assert browser.find_element(By.CSS_SELECTOR, "td.payment").text == "paid"
    assert not browser.find_elements(By.CSS_SELECTOR, "td.expires")
    # The delivery shows up on the page without a reload.
    browser.execute_script("window.sameDocument = true")
    until(browser, lambda driver: "delivered" in driver.find_element(By.CSS_SELECTOR, "table.attempts").text)
    first = browser.find_elements(By.CSS_SELECTOR, "table.attempts tr")[1]
    cells = [c.text for c in first.find_elements(By.TAG_NAME, "td")]
    assert cells[:2] == ["paid (event)", "delivered"] and cells[3:] == [f"{shop.url}/ref-wanted", "200", "1"]
    assert browser.execute_script("return window.sameDocument") is True

    caught_up(browser, sandbox)
    amount = browser.find_element(By.ID, "settle-amount")
    amount.clear()
    amount.send_keys("7.5")
    for action in ("settle", "refund", "resend"):
        press(browser, browser.find_element(By.NAME, action))
        caught_up(browser, sandbox)
    assert browser.find_element(By.CSS_SELECTOR, "td.settlement").text == "settled (7.50)"
    assert browser.find_element(By.CSS_SELECTOR, "td.refund").text == "refunded"
    assert "cannot settle a refunded order" in browser.find_element(By.ID, "why-settle").text
    client = vemrat_pay.Client("ck-one", "sk-one")
    statuses = []
    for headers, body, _ in shop.received:
        fields = client.verify_callback(body.decode(), headers[SIGNATURE_HEADER])
        assert fields["order_id"] == order_id
        statuses.append(fields["status"])
    assert statuses == ["paid", "settled", "refunded", "refunded"]
    assert json.loads(shop.received[1][1])["settle_amount"] == "7.50"
