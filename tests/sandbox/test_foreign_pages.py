"""Pages of other sites in the developer's browser: no reading the sandbox by DNS rebinding,
no changing its state by a cross-site form, while scripts and curl keep working."""

import json
import re
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest
from selenium.webdriver.support.ui import WebDriverWait

from vemrat_pay_sandbox import Sandbox
from wire import exchange, raw_exchange

FAULT_RULE = json.dumps({"endpoint": "payment", "fault": "error", "status": 503}).encode()


def port_of(sandbox) -> int:
    return int(sandbox.base_url.rsplit(":", 1)[1])


def status_of(answer: bytes) -> int:
    return int(answer.split(b" ", 2)[1])


# Host values as sent; every one that names a site an attacker could rebind is refused.
@pytest.mark.parametrize("host, status", [
    ("127.0.0.1:{port}", 200),
    ("localhost:{port}", 200),
    ("LOCALHOST.:{port}", 200),
    ("shop.localhost:{port}", 200),
    ("[::1]:{port}", 200),
    ("192.168.1.20", 200),
    ("rebound.evil.example:{port}", 403),
    ("rebound.evil.example", 403),
    ("localhost.evil.example:{port}", 403),
    ("127.0.0.1.nip.io:{port}", 403),
    ("notlocalhost:{port}", 403),
    ("127.0.0.1:{port}/sandbox", 400),
    ("user@127.0.0.1:{port}", 400),
    ("127.0.0.1:port", 400),
    ("", 400),
])
def test_a_request_is_served_only_under_a_host_name_that_cannot_be_rebound(sandbox, merchant,
                                                                           host, status):
    order_id = merchant.new_order()
    answer = exchange(f"{sandbox.base_url}/sandbox/orders", headers={
        "Host": host.format(port=port_of(sandbox))})
    assert answer.status == status, answer.body
    if status == 200:
        assert [order["order_id"] for order in answer.data] == [order_id]
    else:
        assert order_id.encode() not in answer.body and answer.json["detail"]
        if status == 403:
            assert "--allow-host" in answer.json["detail"]


@pytest.mark.parametrize("head, status", [
    (b"GET /sandbox/orders HTTP/1.0\r\n\r\n", 200),  # no Host: not a browser
    (b"GET /sandbox/orders HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n\r\n", 400),
    (b"GET /sandbox/ HTTP/1.1\r\nHost: rebound.evil.example\r\n\r\n", 403),
    (b"GET /pay/VPx HTTP/1.1\r\nHost: rebound.evil.example\r\n\r\n", 403),
])
def test_host_headers_on_the_wire(sandbox, head, status):
    assert status_of(raw_exchange(sandbox.base_url, head)) == status


def test_names_given_to_the_sandbox_are_accepted():
    with Sandbox({"ck": "sk"}, allowed_hosts=["payments-sandbox"]) as sandbox:
        for host, status in [("payments-sandbox:8000", 200), ("Payments-Sandbox", 200),
                             ("other-sandbox", 403)]:
            assert exchange(f"{sandbox.base_url}/sandbox/orders",
                            headers={"Host": host}).status == status, host


# Headers a browser sends with a request that changes state, and whether it is served.
# The sandbox's own origin is http://127.0.0.1:{port}.
@pytest.mark.parametrize("headers, served", [
    ({}, True),  # curl, scripts, the merchant's server
    ({"Origin": "http://127.0.0.1:{port}"}, True),
    ({"Origin": "HTTP://127.0.0.1:{port}", "Sec-Fetch-Site": "same-origin"}, True),
    ({"Sec-Fetch-Site": "none"}, True),
    ({"Origin": "http://evil.example"}, False),
    ({"Origin": "null"}, False),
    ({"Origin": "http://localhost:{port}"}, False),
    ({"Origin": "http://127.0.0.1:1"}, False),
    ({"Origin": "https://127.0.0.1:{port}"}, False),
    ({"Origin": "http://127.0.0.1:{port}.evil.example"}, False),
    ({"Sec-Fetch-Site": "cross-site"}, False),
    ({"Sec-Fetch-Site": "same-site"}, False),
    ({"Origin": "http://127.0.0.1:{port}", "Sec-Fetch-Site": "cross-site"}, False),
])
def test_a_state_change_from_another_origin_is_refused(sandbox, headers, served):
    sent = {name: value.format(port=port_of(sandbox)) for name, value in headers.items()}
    answer = exchange(f"{sandbox.base_url}/sandbox/faults", "POST", FAULT_RULE,
                      {"Content-Type": "application/json", **sent})
    assert answer.status == (200 if served else 403), answer.body
    assert len(sandbox.faults()) == (1 if served else 0)
    # Reading is left to the browser's same-origin rule: the Host check guards it.
    assert exchange(f"{sandbox.base_url}/sandbox/faults", headers=sent).status == 200


def dashboard_token(sandbox) -> str:
    page = exchange(f"{sandbox.base_url}/sandbox/").body.decode()
    tokens = set(re.findall(r'name="form_token" value="([^"]+)"', page))
    assert len(tokens) == 1, tokens
    return tokens.pop()


def state_of(sandbox, order_id):
    return sandbox.order(order_id)["pay_status"], len(sandbox.faults())


@pytest.mark.parametrize("token, served", [
    ("the page's", True),
    ("none", False),
    ("empty", False),
    ("another sandbox's", False),
    ("the page's, cut short", False),
])
@pytest.mark.parametrize("form", ["pay button", "clear rules"])
def test_the_dashboard_forms_need_the_token_of_its_pages(sandbox, merchant, token, served, form):
    order_id = merchant.new_order()
    sandbox.add_fault("error", "order_status", status=503)
    with Sandbox({"ck": "sk"}) as other:
        other.add_fault("drop", "callback")
        tokens = {"the page's": dashboard_token(sandbox), "empty": "",
                  "another sandbox's": dashboard_token(other)}
    tokens["the page's, cut short"] = tokens["the page's"][:-1]
    body = b"" if token == "none" else f"form_token={tokens[token]}".encode()
    path = {"pay button": f"/sandbox/dashboard/orders/{order_id}/pay",
            "clear rules": "/sandbox/dashboard/faults/clear"}[form]
    answer = exchange(sandbox.base_url + path, "POST", body)
    if served:
        assert answer.status == 303
        assert state_of(sandbox, order_id) == ((1, 1) if form == "pay button" else (0, 0))
    else:
        assert answer.status == 403
        assert 'href="/sandbox/"' in answer.body.decode()
        assert state_of(sandbox, order_id) == (0, 1)


@pytest.mark.parametrize("path", ["/sandbox/", "/pay/{order_id}", "/sandbox/dashboard/faults/clear"])
def test_no_page_may_be_shown_in_another_site_s_frame(sandbox, merchant, path):
    order_id = merchant.new_order()
    answer = exchange(sandbox.base_url + path.format(order_id=order_id),
                      "POST" if path.endswith("clear") else "GET", b"" if path.endswith("clear") else None)
    assert answer.headers.get_content_type() == "text/html"
    assert answer.headers["Content-Security-Policy"] == "frame-ancestors 'none'"
    assert answer.headers["X-Frame-Options"] == "DENY"


class HostilePage:
    """Another site on this machine: serves `page` (HTML) at / from http://localhost:<port>."""

    def __init__(self) -> None:
        self.page = ""
        hostile = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self) -> None:
                payload = hostile.page.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(payload)))
                self.end_headers()
                self.wfile.write(payload)

            def log_message(self, *args) -> None:
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.url = f"http://localhost:{self._server.server_address[1]}/"
        self._thread = threading.Thread(target=self._server.serve_forever, args=(0.05,), daemon=True)

    def __enter__(self) -> "HostilePage":
        self._thread.start()
        return self

    def __exit__(self, *exc_info) -> None:
        self._server.shutdown()
        self._thread.join()
        self._server.server_close()


def self_submitting_form(action: str, enctype: str, name: str = "", value: str = "") -> str:
    field = f"<input type='hidden' name='{name}' value='{value}'>" if name else ""
    return (f"<!DOCTYPE html><form id='f' method='post' action='{action}' enctype='{enctype}'>"
            f"{field}</form><script>document.getElementById('f').submit()</script>")


def test_a_cross_site_form_in_a_real_browser_changes_nothing(sandbox, merchant, browser):
    order_id = merchant.new_order()
    sandbox.add_fault("error", "order_status", status=503)
    # text/plain sends "name=value": a JSON rule whose last string takes the "=".
    rule_name = '{"endpoint": "payment", "fault": "error", "status": 503, "detail": "'
    attacks = [
        self_submitting_form(f"{sandbox.base_url}/sandbox/faults", "text/plain", rule_name, '"}'),
        self_submitting_form(f"{sandbox.base_url}/sandbox/orders/{order_id}/pay",
                             "application/x-www-form-urlencoded"),
        self_submitting_form(f"{sandbox.base_url}/pay/{order_id}/pay",
                             "application/x-www-form-urlencoded"),
        self_submitting_form(f"{sandbox.base_url}/sandbox/dashboard/faults/clear",
                             "application/x-www-form-urlencoded",
                             "form_token", dashboard_token(sandbox)),
    ]
    answers = []
    with HostilePage() as hostile:
        for attack in attacks:
            hostile.page = attack
            browser.get(hostile.url)
            WebDriverWait(browser, 15).until(
                lambda driver: driver.current_url.startswith(sandbox.base_url))
            answers.append(browser.find_element("tag name", "body").text)
    assert state_of(sandbox, order_id) == (0, 1), answers
    assert all("may only come from its own pages" in answer for answer in answers), answers
