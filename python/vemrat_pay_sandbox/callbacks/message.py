"""Signed callbacks as the service builds them.

A callback is a compact JSON object with the string members "status",
"order_id", "amount", "settle_amount", "reason" and "expired", sent as
application/json with the header X-Vemrat-Signature: the lower-case hex
HMAC-SHA256 of the exact body bytes under the merchant's sponsor key.
"""

from __future__ import annotations

import json

from ..signing import sign_callback

SIGNATURE_HEADER = "X-Vemrat-Signature"


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
