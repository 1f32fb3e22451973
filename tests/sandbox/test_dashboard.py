"""The dashboard at /sandbox/: in headless Chromium as a developer uses it, and over plain HTTP."""

import json
from html.parser import HTMLParser

import pytest
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

import vemrat_pay
from vemrat_pay_sandbox import SIGNATURE_HEADER
from wire import CallbackReceiver, Merchant, exchange

HOSTILE = "<script>document.title='owned'</script>"


@pytest.fixture
def shop():
    with CallbackReceiver() as receiver:
        yield receiver


def order_card(browser, order_id):
    return WebDriverWait(browser, 15).until(lambda driver: driver.find_element(By.ID, order_id))


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
    WebDriverWait(browser, 15, ignored_exceptions=(WebDriverException,)).until(
        lambda driver: driver.execute_script(
            "return document.readyState === 'complete' && window.beforePress === undefined"))


def field(card, name):
    return card.find_element(By.CSS_SELECTOR, f"td.{name}").text


def test_the_dashboard_lists_orders_and_its_buttons_drive_them(sandbox, merchant, shop, browser):
    older = merchant.new_order(amount="5", user_notify_url=shop.url)
    order_id = merchant.new_order(amount="12.5", currency=HOSTILE, recipient_account=HOSTILE,
                                  user_notify_url=shop.url)
    other = Merchant(sandbox.base_url, "ck-two", "sk-two").new_order(pay_mode="direct")

    browser.get(f"{sandbox.base_url}/sandbox/")
    assert browser.title == "Vemrat sandbox dashboard"
    sections = browser.find_elements(By.CSS_SELECTOR, "section.merchant")
    assert [section.find_element(By.TAG_NAME, "h2").text for section in sections] == \
        ["Merchant ck-one", "Merchant ck-two"]
    listed = [[card.get_attribute("id") for card in section.find_elements(By.CSS_SELECTOR, "article")]
              for section in sections]
    assert listed == [[order_id, older], [other]]  # newest first

    card = order_card(browser, order_id)
    # The hostile fields show as text: no script ran, no element was made of them.
    assert field(card, "amount") == f"12.50 {HOSTILE}"
    assert field(card, "mode") == f"split to {HOSTILE}"
    assert browser.find_elements(By.CSS_SELECTOR, "article script") == []
    assert (field(card, "payment"), field(card, "settlement"), field(card, "refund")) == \
        ("pending", "unsettled", "none")
    enabled = [button.get_attribute("name") for button in card.find_elements(By.TAG_NAME, "button")
               if button.is_enabled()]
    assert enabled == ["pay", "fail", "expire"]

    press(browser, card.find_element(By.NAME, "pay"))
    assert browser.current_url == f"{sandbox.base_url}/sandbox/#{order_id}"
    assert field(order_card(browser, order_id), "payment") == "paid"
    sandbox.wait_for_callbacks()
    client = vemrat_pay.Client("ck-one", "sk-one")
    [(headers, body, _)] = shop.received
    fields = client.verify_callback(body.decode(), headers[SIGNATURE_HEADER])
    assert (fields["order_id"], fields["status"], fields["amount"]) == (order_id, "paid", "12.50")

    press(browser, browser.find_element(By.ID, "refresh"))
    card = order_card(browser, order_id)
    rows = card.find_elements(By.CSS_SELECTOR, "table.attempts tr")[1:]
    cells = [cell.text for cell in rows[0].find_elements(By.TAG_NAME, "td")]
    assert cells[:2] == ["paid (event)", "delivered"]
    assert cells[3:] == [shop.url, "200", "1"]

    for button in ("settle", "refund", "resend"):
        press(browser, order_card(browser, order_id).find_element(By.NAME, button))
    sandbox.wait_for_callbacks()
    card = order_card(browser, order_id)
    assert (field(card, "settlement"), field(card, "refund")) == ("settled (12.50)", "refunded")
    assert [json.loads(body)["status"] for _, body, _ in shop.received] == \
        ["paid", "settled", "refunded", "refunded"]


def test_the_dashboard_shows_the_fault_rules_and_clears_them(sandbox, browser):
    sandbox.add_fault("error", "payment", merchant="ck-two", status=503, count=2)
    sandbox.add_fault("delay", "callback", seconds=1.5)
    browser.get(f"{sandbox.base_url}/sandbox/")
    rows = browser.find_elements(By.CSS_SELECTOR, "#faults tr")[1:]
    assert [[cell.text for cell in row.find_elements(By.TAG_NAME, "td")] for row in rows] == [
        ["1", "ck-two", "payment", "error", '{"status": 503, "detail": "Service Unavailable"}', "2"],
        ["2", "every merchant", "callback", "delay", '{"seconds": 1.5}', "1"],
    ]
    press(browser, browser.find_element(By.ID, "clear-faults"))
    assert browser.find_element(By.ID, "no-faults").text.startswith("No fault rules in force.")
    assert sandbox.faults() == []


class Text(HTMLParser):
    """The page's text nodes, unescaped, and the names of its elements."""

    def __init__(self) -> None:
        super().__init__()
        self.texts: list[str] = []
        self.tags: set[str] = set()

    def handle_starttag(self, tag, attrs):
        self.tags.add(tag)

    def handle_data(self, data):
        self.texts.append(data)


@pytest.mark.parametrize("name", ["currency", "recipient_account", "user_notify_url"])
def test_every_order_field_reaches_the_page_escaped(sandbox, merchant, name):
    value = (f"http://127.0.0.1:9/{HOSTILE}" if name == "user_notify_url" else HOSTILE)
    order_id = merchant.new_order(**{name: value})
    sandbox.add_fault("drop", "callback")
    assert exchange(f"{sandbox.base_url}/sandbox/orders/{order_id}/pay", "POST", b"").status == 200
    page = exchange(f"{sandbox.base_url}/sandbox/")
    assert page.headers.get_content_type() == "text/html"
    parsed = Text()
    parsed.feed(page.body.decode())
    assert "script" not in parsed.tags
    assert any(HOSTILE in text for text in parsed.texts)


def test_a_button_the_state_forbids_explains_and_links_back(sandbox, merchant):
    order_id = merchant.new_order()
    form = f"form_token={sandbox.server.form_token}".encode()
    answer = exchange(f"{sandbox.base_url}/sandbox/dashboard/orders/{order_id}/refund", "POST", form)
    assert answer.status == 409
    html = answer.body.decode()
    assert "cannot refund an order that is pending" in html and 'href="/sandbox/"' in html
    answer = exchange(f"{sandbox.base_url}/sandbox/dashboard/orders/VPnothing/pay", "POST", form)
    assert answer.status == 404 and "unknown order" in answer.body.decode()

