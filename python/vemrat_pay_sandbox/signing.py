"""HMAC-SHA256 signatures as the service and its merchants exchange them.

Every signature is the lower-case hexadecimal HMAC-SHA256 of a message under
the merchant's sponsor key; keys and messages are taken as UTF-8 bytes.
"""

from __future__ import annotations

import hashlib
import hmac


def _as_bytes(value: str | bytes) -> bytes:
    return value.encode("utf-8") if isinstance(value, str) else bytes(value)


def sign(key: str | bytes, message: str | bytes) -> str:
    """Return the 64 lower-case hex digits of HMAC-SHA256(key, message)."""
    return hmac.new(_as_bytes(key), _as_bytes(message), hashlib.sha256).hexdigest()


def secrets_match(expected: str, given: str) -> bool:
    """Exact, case-sensitive comparison of two secret texts (keys, signatures) in constant time."""
    return hmac.compare_digest(expected.encode("utf-8"), given.encode("utf-8"))


def order_status_message(community_key: str, timestamp: str, nonce: str, order_id: str) -> str:
    """The text an order-status query signs: the four raw values joined with no separator."""
    return community_key + timestamp + nonce + order_id


def sign_order_status(sponsor_key: str, community_key: str, timestamp: str, nonce: str,
                      order_id: str) -> str:
    """Signature of an order-status query, as the client sends it."""
    return sign(sponsor_key, order_status_message(community_key, timestamp, nonce, order_id))


def sign_callback(sponsor_key: str, body: str | bytes) -> str:
    """Signature of a callback body: HMAC-SHA256 over its exact bytes under the sponsor key."""
    return sign(sponsor_key, body)
