"""Checks of the two service requests, field by field.

Each check raises `Rejected(status, detail)`; the server answers it as
`{"detail": detail}` with that HTTP status. Statuses:

    400  a malformed or missing field (form, amount, URL, pay mode, ...)
    401  unknown community key, wrong sponsor key, invalid signature,
         stale timestamp, replayed nonce
    404  unknown order
"""

from __future__ import annotations

import re
import urllib.parse
from dataclasses import dataclass
from decimal import Decimal
from typing import Mapping

from .signing import sign_order_status, secrets_match
from .urls import CONTROL_CHARACTER, ascii_url

PAYMENT_FIELDS = ("community_key", "sponsor_key", "timestamp", "nonce", "amount", "currency",
                  "recipient_account", "user_notify_url", "pay_mode")
PAYMENT_OPTIONAL_FIELDS = ("return_url",)
STATUS_QUERY_FIELDS = ("community_key", "timestamp", "nonce", "signature", "order_id")

PAY_MODES = ("split", "direct")

# Two decimal places at most, no sign, no exponent.
_AMOUNT = re.compile(r"(?P<units>[0-9]+)(?:\.[0-9]{1,2})?")
MAX_AMOUNT = Decimal("999999999999.99")
_NONCE = re.compile(r"[0-9a-f]{32}")
_TIMESTAMP = re.compile(r"0|[1-9][0-9]{0,19}")
_SIGNATURE = re.compile(r"[0-9a-f]{64}")


class Rejected(Exception):
    """A request the service refuses, with the HTTP status and the detail text it answers."""

    def __init__(self, status: int, detail: str) -> None:
        super().__init__(status, detail)
        self.status = status
        self.detail = detail


@dataclass(frozen=True)
class PaymentRequest:
    community_key: str
    sponsor_key: str
    timestamp: int
    nonce: str
    amount: str  # normalised to two decimals, e.g. "10.00"
    currency: str
    recipient_account: str
    user_notify_url: str
    pay_mode: str
    return_url: str


@dataclass(frozen=True)
class StatusQuery:
    community_key: str
    timestamp: int
    nonce: str
    signature: str
    order_id: str


def parse_fields(encoded: str, allowed: tuple[str, ...]) -> dict[str, str]:
    """Decode a form body or query string; every field at most once, no unknown field."""
    try:
        pairs = urllib.parse.parse_qsl(encoded, keep_blank_values=True, strict_parsing=bool(encoded),
                                       encoding="utf-8", errors="strict")
    except (ValueError, UnicodeDecodeError):
        raise Rejected(400, "malformed form encoding") from None
    fields: dict[str, str] = {}
    for name, value in pairs:
        if name not in allowed:
            raise Rejected(400, f"unknown field: {name}")
        if name in fields:
            raise Rejected(400, f"duplicate field: {name}")
        fields[name] = value
    return fields


def claimed_merchant(encoded: str) -> str | None:
    """The community key a form or query names, read leniently; None if it names none."""
    values = urllib.parse.parse_qs(encoded, keep_blank_values=True, errors="replace")
    return values.get("community_key", [None])[0]


def require(fields: Mapping[str, str], names: tuple[str, ...]) -> None:
    for name in names:
        if name not in fields:
            raise Rejected(400, f"missing field: {name}")


def normalise_amount(text: str) -> str:
    """The amount as a positive decimal text with two decimals, or Rejected(400)."""
    match = _AMOUNT.fullmatch(text)
    if match is None:
        raise Rejected(400, f"invalid amount: {text!r} is not a positive decimal with at most "
                            "2 decimal places")
    value = Decimal(text)
    if value <= 0:
        raise Rejected(400, f"invalid amount: {text!r} must be greater than zero")
    if value > MAX_AMOUNT:
        raise Rejected(400, f"invalid amount: {text!r} exceeds {MAX_AMOUNT}")
    return f"{value:.2f}"


def check_http_url(name: str, text: str) -> str:
    """`text` if it is an absolute http(s) URL that converts to ASCII, else Rejected(400)."""
    if CONTROL_CHARACTER.search(text):
        raise Rejected(400, f"invalid {name}: must not contain control characters")
    try:
        parts = urllib.parse.urlsplit(text)
        parts.port  # raises on a malformed port
    except ValueError:
        parts = None
    if parts is None or parts.scheme not in ("http", "https") or not parts.hostname:
        raise Rejected(400, f"invalid {name}: must be an absolute http(s) URL")
    try:
        ascii_url(text)
    except UnicodeError:
        raise Rejected(400, f"invalid {name}: its host name cannot be converted to ASCII") from None
    return text


def check_timestamp(text: str, now: float, window: float) -> int:
    """Whole seconds since 1970 in decimal, within `window` seconds of `now` either way."""
    if _TIMESTAMP.fullmatch(text) is None:
        raise Rejected(400, "invalid timestamp: must be whole seconds since 1970 in decimal")
    timestamp = int(text)
    if timestamp < now - window:
        raise Rejected(401, f"stale timestamp: more than {window:g} s in the past")
    if timestamp > now + window:
        raise Rejected(401, f"stale timestamp: more than {window:g} s in the future")
    return timestamp


def check_nonce_format(text: str) -> str:
    if _NONCE.fullmatch(text) is None:
        raise Rejected(400, "invalid nonce: must be 32 lower-case hexadecimal characters")
    return text


def check_payment(body: str, merchants: Mapping[str, str], now: float,
                  window: float) -> PaymentRequest:
    """Check a payment form body: credentials, freshness, then the order fields.

    The nonce is only checked for its form here; whether it was seen before is
    decided by the store when the order is recorded.
    """
    fields = parse_fields(body, PAYMENT_FIELDS + PAYMENT_OPTIONAL_FIELDS)
    require(fields, PAYMENT_FIELDS)
    community_key = fields["community_key"]
    if community_key not in merchants:
        raise Rejected(401, "unknown community key")
    if not secrets_match(merchants[community_key], fields["sponsor_key"]):
        raise Rejected(401, "wrong sponsor key")
    timestamp = check_timestamp(fields["timestamp"], now, window)
    nonce = check_nonce_format(fields["nonce"])
    amount = normalise_amount(fields["amount"])
    currency = fields["currency"]
    if not currency.strip():
        raise Rejected(400, "missing currency")
    pay_mode = fields["pay_mode"]
    if pay_mode not in PAY_MODES:
        raise Rejected(400, "invalid pay_mode: must be split or direct")
    recipient = fields["recipient_account"]
    if pay_mode == "split" and not recipient.strip():
        raise Rejected(400, "recipient_account is required for pay_mode split")
    notify_url = check_http_url("user_notify_url", fields["user_notify_url"])
    return_url = fields.get("return_url", "")
    if return_url:
        check_http_url("return_url", return_url)
    return PaymentRequest(community_key, fields["sponsor_key"], timestamp, nonce, amount, currency,
                          recipient, notify_url, pay_mode, return_url)


def check_status_query(query: str, merchants: Mapping[str, str], now: float,
                       window: float) -> StatusQuery:
    """Check an order-status query: community key, signature, then freshness."""
    fields = parse_fields(query, STATUS_QUERY_FIELDS)
    require(fields, STATUS_QUERY_FIELDS)
    community_key = fields["community_key"]
    if community_key not in merchants:
        raise Rejected(401, "unknown community key")
    nonce = check_nonce_format(fields["nonce"])
    if _SIGNATURE.fullmatch(fields["signature"]) is None:
        raise Rejected(401, "invalid signature: must be 64 lower-case hexadecimal characters")
    expected = sign_order_status(merchants[community_key], community_key, fields["timestamp"],
                                 nonce, fields["order_id"])
    if not secrets_match(expected, fields["signature"]):
        raise Rejected(401, "invalid signature")
    timestamp = check_timestamp(fields["timestamp"], now, window)
    return StatusQuery(community_key, timestamp, nonce, fields["signature"], fields["order_id"])
