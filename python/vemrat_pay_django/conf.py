"""The app's settings: one optional `VEMRAT_PAY` dict in the project's settings, read here only.

    VEMRAT_PAY = {
        "SOCKET_TIMEOUT": 15,
        "CALLBACK_BASE_URL": "https://shop.example",
    }

Each key, its default and its meaning:

COMMUNITY_KEY, SPONSOR_KEY (None)
    The merchant's keys. Give both or neither: without them the client reads auth_key.py
    from settings.WORKING_SPACE exactly as `vemrat_pay.Client()` does.
SIGNATURE_HEADER ("X-Vemrat-Signature")
    The request header that carries a callback's signature.
CALLBACK_BASE_URL (None)
    The shop's public origin, such as "https://shop.example". Callback URLs are built from it
    when it is set, and otherwise from the request that starts the payment.
SOCKET_TIMEOUT (None)
    Seconds; when set, the app sets the process-wide socket default timeout at start-up.
    `vemrat_pay` has no timeout of its own: urllib waits as long as that default allows.
KEEP_ALIVE (False)
    When true, the app installs vemrat_pay_keepalive's opener at start-up, for the base URL
    in force then: the connections to the service stay open from one request to the next.
STATUS_CODES ({})
    Overrides of what the service's status codes mean, per field; see `status_codes`.
CURRENCY_DECIMAL_PLACES ({})
    Overrides of the number of decimal places each currency allows; see `amounts`.
"""

from __future__ import annotations

from typing import Any

from django.conf import settings

DEFAULTS: dict[str, Any] = {
    "COMMUNITY_KEY": None,
    "SPONSOR_KEY": None,
    "SIGNATURE_HEADER": "X-Vemrat-Signature",
    "CALLBACK_BASE_URL": None,
    "SOCKET_TIMEOUT": None,
    "KEEP_ALIVE": False,
    "STATUS_CODES": {},
    "CURRENCY_DECIMAL_PLACES": {},
}


def configured() -> dict[str, Any]:
    """The project's VEMRAT_PAY dict as it is ({} when it is not set)."""
    value = getattr(settings, "VEMRAT_PAY", None)
    return value if isinstance(value, dict) else {}


def get_setting(name: str) -> Any:
    """The value of one key of VEMRAT_PAY, or its default."""
    if name not in DEFAULTS:
        raise KeyError(f"VEMRAT_PAY has no key {name!r}")
    return configured().get(name, DEFAULTS[name])


def is_socket_timeout(value: object) -> bool:
    """Whether `value` can be SOCKET_TIMEOUT: a positive number of seconds."""
    return (isinstance(value, (int, float)) and not isinstance(value, bool)
            and value > 0)
