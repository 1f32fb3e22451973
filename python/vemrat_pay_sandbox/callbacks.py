"""Signed callbacks: building them, and POSTing them to a merchant's notify URL.

A callback is a compact JSON object with the string members "status",
"order_id", "amount", "settle_amount", "reason" and "expired", sent as
application/json with the header X-Vemrat-Signature: the lower-case hex
HMAC-SHA256 of the exact body bytes under the merchant's sponsor key.
"""

from __future__ import annotations

import json
import urllib.error
import urllib.request
from dataclasses import dataclass

from .signing import sign_callback
from .urls import ascii_url

SIGNATURE_HEADER = "X-Vemrat-Signature"
DEFAULT_TIMEOUT = 5.0


def callback_body(*, status: str, order_id: str, amount: str, settle_amount: str = "0.00",
                  reason: str = "", expired: str = "") -> str:
    """The callback's JSON text: six string members in a fixed order, no spaces."""
    fields = {"status": status, "order_id": order_id, "amount": amount,
              "settle_amount": settle_amount, "reason": reason, "expired": expired}
    for name, value in fields.items():
        if not isinstance(value, str):
            raise TypeError(f"callback field {name} must be a str, not {type(value).__name__}")
    return json.dumps(fields, separators=(",", ":"), ensure_ascii=False)


def make_callback(sponsor_key: str, *, status: str, order_id: str, amount: str,
                  settle_amount: str = "0.00", reason: str = "",
                  expired: str = "") -> tuple[str, str]:
    """Return (body, signature) exactly as the sandbox would send them for these fields."""
    body = callback_body(status=status, order_id=order_id, amount=amount,
                         settle_amount=settle_amount, reason=reason, expired=expired)
    return body, sign_callback(sponsor_key, body)


@dataclass(frozen=True)
class Delivery:
    """One delivery attempt: the receiver's HTTP status, or None and the error text."""
    status: int | None
    error: str


def deliver(url: str, body: str, signature: str, timeout: float = DEFAULT_TIMEOUT) -> Delivery:
    """POST the callback once; never raises for a receiver that is down or answers badly."""
    request = urllib.request.Request(
        ascii_url(url), data=body.encode("utf-8"), method="POST",
        headers={"Content-Type": "application/json", SIGNATURE_HEADER: signature})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as response:
            response.read()
            return Delivery(response.status, "")
    except urllib.error.HTTPError as error:
        error.close()
        return Delivery(error.code, f"HTTP {error.code}")
    except (OSError, ValueError, urllib.error.URLError) as error:
        return Delivery(None, f"{type(error).__name__}: {error}")
