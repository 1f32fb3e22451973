"""The VEMRAT_PAY dict itself: its type, its keys, and the kind of each value."""

from __future__ import annotations

import urllib.parse
from collections.abc import Mapping
from typing import Any

from django.conf import settings
from django.core.checks import CheckMessage, Error

from .. import status_codes
from ..conf import DEFAULTS, is_socket_timeout


def check_settings_dict(**kwargs: Any) -> list[CheckMessage]:
    value = getattr(settings, "VEMRAT_PAY", {})
    if not isinstance(value, dict):
        return [Error(f"VEMRAT_PAY must be a dict, not {type(value).__name__}.",
                      hint="See the keys in vemrat_pay_django.conf.", id="vemrat_pay.E001")]
    found: list[CheckMessage] = []
    unknown = sorted(str(name) for name in value if name not in DEFAULTS)
    if unknown:
        found.append(Error(f"VEMRAT_PAY has unknown keys: {', '.join(unknown)}.",
                           hint=f"The keys are {', '.join(DEFAULTS)}.", id="vemrat_pay.E002"))
    if ("COMMUNITY_KEY" in value) != ("SPONSOR_KEY" in value):
        given, missing = (("COMMUNITY_KEY", "SPONSOR_KEY") if "COMMUNITY_KEY" in value
                          else ("SPONSOR_KEY", "COMMUNITY_KEY"))
        found.append(Error(
            f"VEMRAT_PAY has {given} but no {missing}: a key given alone is ignored and both "
            "are read from auth_key.py.",
            hint=f"Set {missing} too, or remove {given} to use auth_key.py.",
            id="vemrat_pay.E003"))
    for name, problem in value_problems(value):
        found.append(Error(f"VEMRAT_PAY[{name!r}] {problem}.", id="vemrat_pay.E004"))
    return found


def value_problems(value: Mapping[str, Any]) -> list[tuple[str, str]]:
    found: list[tuple[str, str]] = []
    for name in ("COMMUNITY_KEY", "SPONSOR_KEY"):
        if name in value and not isinstance(value[name], str):
            found.append((name, f"must be a str, not {type(value[name]).__name__}"))
    header = value.get("SIGNATURE_HEADER", DEFAULTS["SIGNATURE_HEADER"])
    if not isinstance(header, str) or not header:
        found.append(("SIGNATURE_HEADER", "must be the name of a request header"))
    base = value.get("CALLBACK_BASE_URL")
    if base is not None and not is_origin(base):
        found.append(("CALLBACK_BASE_URL",
                      "must be the shop's public origin, such as 'https://shop.example', "
                      "with no path"))
    timeout = value.get("SOCKET_TIMEOUT")
    if timeout is not None and not is_socket_timeout(timeout):
        found.append(("SOCKET_TIMEOUT", "must be a positive number of seconds"))
    if not isinstance(value.get("KEEP_ALIVE", False), bool):
        found.append(("KEEP_ALIVE", "must be True or False"))
    found.extend(("STATUS_CODES", problem)
                 for problem in status_codes.problems(value.get("STATUS_CODES", {})))
    places = value.get("CURRENCY_DECIMAL_PLACES", {})
    if not isinstance(places, Mapping) or not all(
            isinstance(currency, str) and type(count) is int and 0 <= count <= 2
            for currency, count in places.items()):
        found.append(("CURRENCY_DECIMAL_PLACES",
                      "must map currency codes to 0, 1 or 2 decimal places"))
    return found


def is_origin(url: object) -> bool:
    if not isinstance(url, str):
        return False
    parts = urllib.parse.urlsplit(url)
    return (parts.scheme in ("http", "https") and bool(parts.netloc)
            and parts.path in ("", "/") and not parts.query and not parts.fragment)
