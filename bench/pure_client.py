"""A pure-Python client of the payment service, written the way a merchant would write one.

It sends the same requests as vemrat_pay (the same method, URL, query string and form body,
byte for byte, for the same clock and nonce) through urllib.request, looked up on every call
like the module does, and decodes the answer into small result objects. The benchmark runs it
side by side with the module; tests/test_bench_client.py checks that both send the same bytes.

`clock` and `nonce` may be given to fix the timestamp and the nonce. `exchange` sends a request
and returns its status and body text; `session_exchange(session)` sends it through a requests
`Session` instead of urllib.
"""

from __future__ import annotations

import hashlib
import hmac
import json
import os
import secrets
import time
import urllib.error
import urllib.request
from decimal import Decimal
from urllib.parse import quote

DEFAULT_BASE_URL = "https://api.vemrat.com"


class PurePaymentResult:
    __slots__ = ("order_id", "pay_url")

    def __init__(self, order_id: str, pay_url: str) -> None:
        self.order_id = order_id
        self.pay_url = pay_url


class PureOrderStatus:
    __slots__ = (
        "order_id", "pay_status", "pay_status_text", "settle_status", "settle_status_text", "refund_status",
        "refund_status_text", "amount", "settle_amount", "expired", "fail_reason",
    )

    def __init__(self, **fields) -> None:
        for name, value in fields.items():
            setattr(self, name, value)


def percent_encode(text: str) -> str:
    # quote() keeps letters, digits and "_.-~" unchanged; with safe="" it encodes everything else.
    return quote(text, safe="")


def amount_text(amount: float) -> str:
    """Shortest round-trip digits in positional notation: 10.0 -> "10", 1e21 -> "1000...0"."""
    text = repr(amount)
    if text == "nan":
        return "NaN"
    if text in ("inf", "-inf"):
        return text
    if "e" in text:
        text = format(Decimal(text), "f")
    return text[:-2] if text.endswith(".0") else text


def sign(key: str, message: str) -> str:
    return hmac.new(key.encode(), message.encode(), hashlib.sha256).hexdigest()


def _text_field(data, key: str) -> str:
    if type(data) is dict:
        value = data.get(key)
        if type(value) is str:
            return value
    return ""


def _int_field(data, key: str) -> int:
    if type(data) is dict:
        value = data.get(key)
        if type(value) is int and -(1 << 63) <= value < (1 << 63):
            value &= 0xFFFFFFFF
            return value - (1 << 32) if value & 0x80000000 else value
    return 0


def _exchange(url: str, method: str, data: bytes | None) -> tuple[int, str]:
    request_module = urllib.request
    request = request_module.Request(url) if data is None else request_module.Request(url, data)
    request.method = method
    try:
        response = request_module.urlopen(request)
    except urllib.error.HTTPError as error:
        return error.code & 0xFFFF, error.read().decode("utf-8", "replace")
    return response.getcode() & 0xFFFF, response.read().decode("utf-8", "replace")


FORM_HEADERS = {"Content-Type": "application/x-www-form-urlencoded"}


def session_exchange(session, **options):
    """An exchange through a requests Session (whose pool keeps connections open), with `options`
    (`verify=...`, say) given to every request. A form body gets the content type urllib gives it."""

    def exchange(url: str, method: str, data: bytes | None) -> tuple[int, str]:
        headers = FORM_HEADERS if data is not None else None
        response = session.request(method, url, data=data, headers=headers, **options)
        return response.status_code & 0xFFFF, response.content.decode("utf-8", "replace")

    return exchange


def _data_of(status: int, body: str):
    if status != 200:
        raise RuntimeError(f"HTTP {status}: {body}")
    try:
        document = json.loads(body)
    except ValueError as error:
        raise RuntimeError(f"Invalid JSON: {error} | body: {body}") from None
    if type(document) is dict:
        detail = document.get("detail")
        if type(detail) is str:
            raise RuntimeError(detail)
        if "data" in document:
            return document["data"]
    raise RuntimeError(f"Missing 'data' in response: {body}")


class PureClient:
    def __init__(self, community_key: str, sponsor_key: str, clock=time.time, nonce=None, exchange=_exchange) -> None:
        self.community_key = community_key
        self.sponsor_key = sponsor_key
        self._clock = clock
        self._nonce = nonce or (lambda: secrets.token_hex(16))
        self._exchange = exchange

    def _freshness(self) -> tuple[str, str]:
        return str(int(self._clock())), self._nonce()

    def create_payment(self, amount, currency: str, recipient_account: str, notify_url: str,
                       pay_mode: str = "split", return_url: str | None = None) -> PurePaymentResult:
        amount = float(amount) if type(amount) is not float else amount
        timestamp, nonce = self._freshness()
        body = (
            f"community_key={percent_encode(self.community_key)}&sponsor_key={percent_encode(self.sponsor_key)}"
            f"&timestamp={timestamp}&nonce={nonce}&amount={percent_encode(amount_text(amount))}"
            f"&currency={percent_encode(currency)}&recipient_account={percent_encode(recipient_account)}"
            f"&user_notify_url={percent_encode(notify_url)}&pay_mode={percent_encode(pay_mode)}"
        )
        if return_url:
            body += f"&return_url={percent_encode(return_url)}"
        url = os.environ.get("VEMRAT_PAY_BASE_URL", DEFAULT_BASE_URL) + "/alipayment/sponsor/pay/"
        data = _data_of(*self._exchange(url, "POST", body.encode()))
        return PurePaymentResult(_text_field(data, "order_id"), _text_field(data, "pay_url"))

    def query_order(self, order_id: str) -> PureOrderStatus:
        timestamp, nonce = self._freshness()
        signature = sign(self.sponsor_key, f"{self.community_key}{timestamp}{nonce}{order_id}")
        url = (
            f"{os.environ.get('VEMRAT_PAY_BASE_URL', DEFAULT_BASE_URL)}/alipayment/sponsor/order-status/"
            f"?community_key={percent_encode(self.community_key)}&timestamp={timestamp}&nonce={nonce}"
            f"&signature={signature}&order_id={percent_encode(order_id)}"
        )
        data = _data_of(*self._exchange(url, "GET", None))
        return PureOrderStatus(
            order_id=_text_field(data, "order_id"),
            pay_status=_int_field(data, "pay_status"),
            pay_status_text=_text_field(data, "pay_status_text"),
            settle_status=_int_field(data, "settle_status"),
            settle_status_text=_text_field(data, "settle_status_text"),
            refund_status=_int_field(data, "refund_status"),
            refund_status_text=_text_field(data, "refund_status_text"),
            amount=_text_field(data, "amount"),
            settle_amount=_text_field(data, "settle_amount"),
            expired=_text_field(data, "expired"),
            fail_reason=_text_field(data, "fail_reason"),
        )
