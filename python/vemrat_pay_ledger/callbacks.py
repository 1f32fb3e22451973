"""What a callback request is recorded as, what it is answered, and how much of it is kept.

A callback is only a hint: its signature is checked against the raw body, the request is
recorded, and then the payment named by the URL is brought up to date from the service's
order-status query, which is authoritative. Its own status text is never acted upon.
"""

from __future__ import annotations

import enum
import hashlib
from dataclasses import dataclass


class Outcome(enum.StrEnum):
    RECEIVED = "received"  # recorded; not acted upon (yet)
    REFUSED = "refused"  # did not verify
    UNVERIFIABLE = "unverifiable"  # could not be checked: the shop's keys or database failed
    UNKNOWN_PAYMENT = "unknown-payment"  # verified, but no payment has that reference
    MISMATCH = "mismatch"  # verified, but its order is not that payment's
    HELD = "held"  # verified; its order may be the payment's or another's: held for review
    UNAVAILABLE = "unavailable"  # verified; the service could not be asked for the state
    CHANGED = "changed"
    UNCHANGED = "unchanged"


# What each outcome answers. A 5xx asks the service to deliver the callback again later.
ANSWERS: dict[Outcome, tuple[int, str]] = {
    Outcome.RECEIVED: (503, "callback not processed, try again later"),
    Outcome.REFUSED: (400, "invalid callback"),
    Outcome.UNVERIFIABLE: (503, "callback cannot be checked now, try again later"),
    Outcome.UNKNOWN_PAYMENT: (404, "unknown payment"),
    Outcome.MISMATCH: (400, "callback does not match the payment"),
    Outcome.HELD: (200, "held for review"),
    Outcome.UNAVAILABLE: (503, "payment service unavailable, try again later"),
    Outcome.CHANGED: (200, "ok"),
    Outcome.UNCHANGED: (200, "ok"),
}

# A body that does not verify is kept up to this many bytes, with the length and the
# SHA-256 digest of the whole: forged traffic costs bounded space. The service's own
# callbacks are a few hundred bytes, so one that could not be checked is kept whole.
UNVERIFIED_BODY_LIMIT = 4096
SIGNATURE_LIMIT = 255


@dataclass(frozen=True)
class StoredBody:
    text: str  # as much as is kept, invalid UTF-8 and NUL replaced
    length: int  # bytes in the whole body
    sha256: str  # hex digest of the whole body


def stored_body(body: bytes, limit: int | None) -> StoredBody:
    """The body as it is recorded: whole (limit None) or its first `limit` bytes."""
    kept = body if limit is None else body[:limit]
    return StoredBody(storable(kept.decode("utf-8", "replace")), len(body),
                      hashlib.sha256(body).hexdigest())


def storable(text: str) -> str:
    """`text` with NUL characters replaced: PostgreSQL keeps no NUL in a text column."""
    return text.replace("\x00", "\ufffd")
