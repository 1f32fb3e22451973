"""Fault rules: what a merchant can make the sandbox do wrong, and how a rule is checked.

A rule applies to the next `count` requests (or callbacks) of one endpoint, for one
merchant (`merchant`, a community key) or for every merchant when that is left out:

    endpoint "payment" or "order_status"
      timeout_after_commit  the request is carried out (the order is stored), then the
                            answer is withheld for `seconds` (default 30) and the
                            connection closed without it; 0 closes it at once
      error                 answers `status` (400 to 599) with {"detail": `detail`}
                            instead of carrying out the request
      malformed             answers 200 with `body` "not_json" (a truncated JSON text)
                            or "no_data" (JSON without "data") instead of carrying it out
      delay                 carries the request out, answers after `seconds`
    endpoint "callback"
      duplicate             delivers the callback twice
      delay                 makes the first attempt `seconds` later
      drop                  records the callback but never delivers it, until resent
      reorder               holds the callback until the order's next callback has
                            been delivered (or has failed for good), then delivers it

Example: {"endpoint": "payment", "fault": "error", "status": 503, "count": 2}
"""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import asdict, dataclass, replace
from http import HTTPStatus
from typing import Any

from ..protocol import Rejected

REQUEST_FAULTS = ("timeout_after_commit", "error", "malformed", "delay")
CALLBACK_FAULTS = ("duplicate", "delay", "drop", "reorder")
FAULTS_BY_ENDPOINT = {"payment": REQUEST_FAULTS, "order_status": REQUEST_FAULTS,
                      "callback": CALLBACK_FAULTS}
MALFORMED_BODIES = ("not_json", "no_data")
DEFAULT_HOLD = 30.0
MAX_SECONDS = 3600.0
MAX_COUNT = 1_000_000

# The members each fault takes beyond endpoint, fault, merchant and count.
FAULT_OPTIONS = {"timeout_after_commit": ("seconds",), "error": ("status", "detail"),
            "malformed": ("body",), "delay": ("seconds",), "duplicate": (), "drop": (),
            "reorder": ()}


@dataclass(frozen=True)
class FaultRule:
    id: int
    endpoint: str
    fault: str
    merchant: str | None
    count: int
    seconds: float = 0.0
    status: int = 0
    detail: str = ""
    body: str = ""

    def as_dict(self) -> dict[str, Any]:
        """The rule as the control API shows it: only the members its fault uses."""
        return {name: value for name, value in asdict(self).items()
                if name in ("id", "endpoint", "fault", "merchant", "count")
                or name in FAULT_OPTIONS[self.fault]}


def parse_rule(document: object, merchants: Mapping[str, str], rule_id: int) -> FaultRule:
    """The rule a control request describes, or Rejected(400) naming what is wrong."""
    if not isinstance(document, Mapping):
        raise Rejected(400, "a fault rule must be a JSON object")
    endpoint = _text(document, "endpoint", required=True)
    if endpoint not in FAULTS_BY_ENDPOINT:
        raise Rejected(400, f"invalid endpoint: {endpoint!r} (expected one of: "
                            f"{', '.join(FAULTS_BY_ENDPOINT)})")
    fault = _text(document, "fault", required=True)
    if fault not in FAULTS_BY_ENDPOINT[endpoint]:
        raise Rejected(400, f"invalid fault for endpoint {endpoint}: {fault!r} (expected one of: "
                            f"{', '.join(FAULTS_BY_ENDPOINT[endpoint])})")
    allowed = {"endpoint", "fault", "merchant", "count", *FAULT_OPTIONS[fault]}
    unknown = sorted(set(document) - allowed)
    if unknown:
        raise Rejected(400, f"unknown member for fault {fault}: {unknown[0]}")
    merchant = document.get("merchant")
    if merchant is not None and (not isinstance(merchant, str) or merchant not in merchants):
        raise Rejected(400, f"invalid merchant: {merchant!r} is not a known community key")
    count = _number(document, "count", 1, whole=True, low=1, high=MAX_COUNT)
    rule = FaultRule(rule_id, endpoint, fault, merchant, int(count))
    if fault == "error":
        status = int(_number(document, "status", None, whole=True, low=400, high=599))
        detail = _text(document, "detail") or _phrase(status)
        return replace(rule, status=status, detail=detail)
    if fault == "malformed":
        body = _text(document, "body") or MALFORMED_BODIES[0]
        if body not in MALFORMED_BODIES:
            raise Rejected(400, f"invalid body: {body!r} (expected one of: "
                                f"{', '.join(MALFORMED_BODIES)})")
        return replace(rule, body=body)
    if fault == "timeout_after_commit":
        seconds = _number(document, "seconds", DEFAULT_HOLD, whole=False, low=0, high=MAX_SECONDS)
        return replace(rule, seconds=seconds)
    if fault == "delay":
        seconds = _number(document, "seconds", None, whole=False, low=0, high=MAX_SECONDS)
        return replace(rule, seconds=seconds)
    return rule


def _text(document: Mapping[str, Any], name: str, *, required: bool = False) -> str:
    value = document.get(name)
    if value is None and not required:
        return ""
    if not isinstance(value, str):
        raise Rejected(400, f"{name} must be a string" if value is not None else f"missing {name}")
    return value


def _number(document: Mapping[str, Any], name: str, default: float | None, *, whole: bool,
            low: float, high: float) -> float:
    value = document.get(name, default)
    if value is None:
        raise Rejected(400, f"missing {name}")
    kinds = "a whole number" if whole else "a number"
    if isinstance(value, bool) or not isinstance(value, (int, float)) or \
            (whole and not isinstance(value, int)) or not low <= value <= high:
        raise Rejected(400, f"{name} must be {kinds} from {low:g} to {high:g}")
    return float(value)


def _phrase(status: int) -> str:
    try:
        return HTTPStatus(status).phrase
    except ValueError:
        return f"injected error {status}"
