"""Whether the merchant's keys can be found, as `vemrat_pay.Client()` looks for them."""

from __future__ import annotations

from typing import Any

import vemrat_pay
from django.conf import settings
from django.core.checks import CheckMessage, Error

from ..conf import configured


def keys_from_file() -> bool:
    """Whether the client reads its keys from auth_key.py (VEMRAT_PAY does not give both)."""
    value = configured()
    return not (isinstance(value.get("COMMUNITY_KEY"), str)
                and isinstance(value.get("SPONSOR_KEY"), str))


def check_keys_found(**kwargs: Any) -> list[CheckMessage]:
    if not keys_from_file():
        return []
    try:
        vemrat_pay.Client()
    except RuntimeError as error:  # the module's messages name the path, never a key
        return [Error(f"The payment service keys cannot be found: {error}",
                      hint="Put auth_key.py with COMMUNITY_KEY = \"...\" and SPONSOR_KEY = \"...\" "
                           "lines in WORKING_SPACE, or set both keys in VEMRAT_PAY.",
                      id="vemrat_pay.E010")]
    return []


def check_working_space(**kwargs: Any) -> list[CheckMessage]:
    if not keys_from_file() or not hasattr(settings, "WORKING_SPACE"):
        return []
    working_space = getattr(settings, "WORKING_SPACE")
    if isinstance(working_space, str):
        return []
    return [Error(
        f"WORKING_SPACE is a {type(working_space).__name__}, not a str: vemrat_pay ignores it "
        "and looks for auth_key.py in the current directory instead.",
        hint="Write WORKING_SPACE = str(BASE_DIR / \"working_space\").", id="vemrat_pay.E011")]
