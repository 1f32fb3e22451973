import hashlib
import hmac
import json
from html.parser import HTMLParser

import pytest

from vemrat_pay_sandbox import SIGNATURE_HEADER, make_callback, sign_callback
from wire import CallbackReceiver, control, exchange, record

CALLBACK_KEYS = ["status", "order_id", "amount", "settle_amount", "reason", "expired"]


def oracle(key: str, body: bytes) -> str:
    return hmac.new(key.encode(), body, hashlib.sha256).hexdigest()


def check_callback(sandbox, receiver, sponsor_key: str) -> dict:
    """The one callback received: signed over its exact bytes, compact JSON of six strings."""
    sandbox.wait_for_callbacks()
    assert len(receiver.received) == 1
    headers, body, path = receiver.received[0]
    assert path == "/payments/callback"
    assert headers["Content-Type"] == "application/json"
    assert headers[SIGNATURE_HEADER] == oracle(sponsor_key, body)
    fields = json.loads(body)
    assert list(fields) == CALLBACK_KEYS
    assert all(isinstance(value, str) for value in fields.values())
    assert body == json.dumps(fields, separators=(",", ":"), ensure_ascii=False).encode()
    return fields


class Forms(HTMLParser):
    """Collects each form's action and the ids of the buttons inside it."""

    def __init__(self) -> None:
        super().__init__()
        self.forms: dict[str, tuple[str, str]] = {}
        self._form: tuple[str, str] | None = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "form":
            self._form = (attrs.get("method", "").lower(), attrs.get("action", ""))
        elif tag == "button" and self._form is not None:
            self.forms[attrs["id"]] = self._form

    def handle_endtag(self, tag):
        if tag == "form":
            self._form = None


def test_paying_through_the_control_api_sends_a_signed_callback(sandbox, merchant, receiver):
    order_id = merchant.new_order(amount="12.5", user_notify_url=receiver.url)
    answer = control(sandbox.base_url, order_id, "pay")

    assert answer.status == 200
    fields = check_callback(sandbox, receiver, "sk-one")
    assert fields == {"status": "paid", "order_id": order_id, "amount": "12.50",
                      "settle_amount": "0.00", "reason": "",
                      "expired": answer.data["expired"]}
    [delivery] = record(sandbox.base_url, order_id)["callbacks"]
    assert (delivery["state"], delivery["url"], delivery["cause"]) == ("delivered", receiver.url, "event")
    assert [(a["attempt"], a["status"], a["error"]) for a in delivery["attempts"]] == [(1, 200, "")]
    assert delivery["body"].encode() == receiver.received[0][1]


def test_the_payment_page_offers_pay_and_fail_forms(sandbox, merchant):
    order_id = merchant.new_order(amount="8", currency="CNY")
    page = exchange(f"{sandbox.base_url}/pay/{order_id}")

    assert page.status == 200
    assert page.headers.get_content_type() == "text/html"
    html = page.body.decode()
    assert order_id in html and "8.00 CNY" in html
    assert "http://" not in html and "https://" not in html  # no external assets
    forms = Forms()
    forms.feed(html)
    assert forms.forms == {"pay": ("post", f"/pay/{order_id}/pay"),
                           "fail": ("post", f"/pay/{order_id}/fail")}


def test_the_page_escapes_what_the_merchant_sent(sandbox, merchant):
    order_id = merchant.new_order(currency="<script>x</script>")
    html = exchange(f"{sandbox.base_url}/pay/{order_id}").body.decode()
    assert "<script>" not in html and "&lt;script&gt;" in html


@pytest.mark.parametrize("button, status, reason", [
    ("pay", "paid", ""), ("fail", "failed", "payment declined by the payer")])
def test_the_payers_choice_redirects_to_the_return_url(sandbox, merchant, receiver, button,
                                                       status, reason):
    order_id = merchant.new_order(user_notify_url=receiver.url,
                                  return_url="https://shop.example/done?o=1")
    answer = exchange(f"{sandbox.base_url}/pay/{order_id}/{button}", "POST", b"")

    assert answer.status == 303
    assert answer.headers["Location"] == "https://shop.example/done?o=1"
    fields = check_callback(sandbox, receiver, "sk-one")
    assert (fields["status"], fields["reason"]) == (status, reason)
    after = exchange(f"{sandbox.base_url}/pay/{order_id}").body.decode()
    assert 'id="pay"' not in after


def test_without_a_return_url_the_payer_sees_a_result_page(sandbox, merchant, receiver):
    order_id = merchant.new_order(user_notify_url=receiver.url)
    answer = exchange(f"{sandbox.base_url}/pay/{order_id}/pay", "POST", b"")
    assert answer.status == 200
    assert "Payment paid" in answer.body.decode()
    assert check_callback(sandbox, receiver, "sk-one")["status"] == "paid"


def test_paying_twice_from_the_page_is_refused_and_sends_nothing_more(sandbox, merchant, receiver):
    order_id = merchant.new_order(user_notify_url=receiver.url)
    assert exchange(f"{sandbox.base_url}/pay/{order_id}/pay", "POST", b"").status == 200
    again = exchange(f"{sandbox.base_url}/pay/{order_id}/fail", "POST", b"")
    assert again.status == 409
    assert "cannot fail an order that is paid" in again.body.decode()
    sandbox.wait_for_callbacks()
    assert len(receiver.received) == 1


def test_an_unknown_order_page_is_not_found(sandbox):
    assert exchange(f"{sandbox.base_url}/pay/VPnothing").status == 404
    assert exchange(f"{sandbox.base_url}/pay/VPnothing/pay", "POST", b"").status == 404


@pytest.mark.parametrize("answer_status", [500, 404, 302])
def test_a_failing_receiver_is_retried_on_the_schedule_then_given_up(sandbox, merchant,
                                                                     answer_status):
    with CallbackReceiver(answer_status=answer_status) as receiver:
        order_id = merchant.new_order(user_notify_url=receiver.url)
        assert exchange(f"{sandbox.base_url}/pay/{order_id}/pay", "POST", b"").status == 200
        sandbox.wait_for_callbacks()
        [delivery] = sandbox.order(order_id)["callbacks"]
    assert delivery["state"] == "failed"
    assert [(a["attempt"], a["status"], a["error"]) for a in delivery["attempts"]] == \
        [(number, answer_status, f"HTTP {answer_status}") for number in (1, 2, 3)]
    assert len(receiver.received) == 3


def test_a_receiver_that_is_down_does_not_break_the_payers_page(sandbox, merchant):
    with CallbackReceiver() as receiver:
        down_url = receiver.url
    order_id = merchant.new_order(user_notify_url=down_url, return_url="https://shop.example/done")
    answer = exchange(f"{sandbox.base_url}/pay/{order_id}/pay", "POST", b"")
    assert answer.status == 303
    sandbox.wait_for_callbacks()
    stored = sandbox.order(order_id)
    assert stored["pay_status"] == 1
    [delivery] = stored["callbacks"]
    assert delivery["state"] == "failed" and len(delivery["attempts"]) == 3
    assert all(attempt["status"] is None and "Connection refused" in attempt["error"]
               for attempt in delivery["attempts"])


def test_make_callback_matches_what_the_sandbox_sends(sandbox, merchant, receiver):
    order_id = merchant.new_order(amount="3", user_notify_url=receiver.url)
    control(sandbox.base_url, order_id, "fail", {"reason": "card déclinée"})
    fields = check_callback(sandbox, receiver, "sk-one")
    body, signature = make_callback("sk-one", **fields)
    assert body.encode() == receiver.received[0][1]
    assert signature == receiver.received[0][0][SIGNATURE_HEADER]
    assert fields["reason"] == "card déclinée"


@pytest.mark.parametrize("key, body", [("sk", "{}"), ("", ""), ("k" * 65, '{"a":"é"}'),
                                       ("clé", '{"status":"paid"}')])
def test_sign_callback_is_hmac_sha256_of_the_utf8_body(key, body):
    assert sign_callback(key, body) == oracle(key, body.encode())
    assert sign_callback(key, body.encode()) == sign_callback(key, body)


def test_make_callback_refuses_non_text_fields():
    with pytest.raises(TypeError):
        make_callback("sk", status="paid", order_id="A", amount=10)
