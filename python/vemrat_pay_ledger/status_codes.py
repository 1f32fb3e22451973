"""What the service's numeric status codes mean: the one place that reads them.

The service does not document its codes. The defaults are the sandbox's; a shop whose service
account reports other codes overrides them per field, for example
{"pay_status": {0: "pending", 1: "paid", 2: "failed", 3: "expired", 4: "failed"}}.
A code that is not in the map means "unknown": the payment keeps its state.
"""

from __future__ import annotations

from collections.abc import Mapping

DEFAULT_STATUS_CODES: dict[str, dict[int, str]] = {
    "pay_status": {0: "pending", 1: "paid", 2: "failed", 3: "expired"},
    "settle_status": {0: "unsettled", 1: "settled"},
    "refund_status": {0: "none", 1: "refunded"},
}

MEANINGS: dict[str, tuple[str, ...]] = {
    "pay_status": ("pending", "paid", "failed", "expired"),
    "settle_status": ("unsettled", "settled"),
    "refund_status": ("none", "refunded"),
}

Overrides = Mapping[str, Mapping[int, str]]


def status_codes(overrides: Overrides) -> dict[str, Mapping[int, str]]:
    """The code maps in force: the defaults, with the fields `overrides` gives replaced."""
    return {field: overrides.get(field, default) for field, default in DEFAULT_STATUS_CODES.items()}


def meaning(field: str, code: int, overrides: Overrides) -> str | None:
    """What `code` of `field` means, or None (also for a meaning given wrongly)."""
    found = status_codes(overrides)[field].get(code)
    return found if found in MEANINGS[field] else None


def problems(overrides: object) -> list[str]:
    """What is wrong with a map of overrides, one text per fault."""
    if not isinstance(overrides, Mapping):
        return [f"must be a dict, not {type(overrides).__name__}"]
    found = []
    for field, codes in overrides.items():
        if field not in MEANINGS:
            found.append(f"has an unknown field {field!r} (known: {', '.join(MEANINGS)})")
        elif not isinstance(codes, Mapping):
            found.append(f"{field!r} must map codes to meanings, not be a {type(codes).__name__}")
        else:
            for code, name in codes.items():
                if isinstance(code, bool) or not isinstance(code, int):
                    found.append(f"{field!r} has a code {code!r} that is not an int")
                elif name not in MEANINGS[field]:
                    found.append(f"{field!r} maps {code} to {name!r}, which is none of "
                                 f"{', '.join(MEANINGS[field])}")
    return found
