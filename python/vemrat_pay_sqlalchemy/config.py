"""The settings of a shop that is not a Django project: keys passed in, never read from a file.

    config = PaymentsConfig.from_env()                 # VEMRAT_PAY_COMMUNITY_KEY, ...
    config = PaymentsConfig.from_mapping(app.config)   # Flask: the same names as config keys
    config = PaymentsConfig(community_key=..., sponsor_key=..., callback_base_url=...)

`vemrat_pay.Client()` without keys looks for `auth_key.py` through Django's settings, so a
shop without Django always passes both keys; this object carries them to the one Client of
the application. The keys are never shown: not in `repr`, not in any message.
"""

from __future__ import annotations

import os
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import vemrat_pay

PREFIX = "VEMRAT_PAY_"
DEFAULT_SIGNATURE_HEADER = "X-Vemrat-Signature"


class MissingKeys(LookupError):
    """The merchant's keys were not given; the message names where they are looked for."""


@dataclass(frozen=True)
class PaymentsConfig:
    """What the integrations need to know besides the database.

    community_key, sponsor_key: the merchant's keys (both required).
    callback_base_url: the shop's public origin ("https://shop.example"); callback URLs and
        return URLs given as paths are built on it. Without it they follow the request.
    signature_header: the request header that carries a callback's signature.
    socket_timeout: seconds; when set, `apply_socket_timeout` makes it the process-wide
        default, which is what bounds the module's requests (it has no timeout of its own).
    status_codes, currency_decimal_places: overrides passed on to the ledger, as in the
        Django app's STATUS_CODES and CURRENCY_DECIMAL_PLACES.
    """

    community_key: str = field(repr=False)
    sponsor_key: str = field(repr=False)
    callback_base_url: str | None = None
    signature_header: str = DEFAULT_SIGNATURE_HEADER
    socket_timeout: float | None = None
    status_codes: Mapping[str, Mapping[int, str]] = field(default_factory=dict)
    currency_decimal_places: Mapping[str, int] = field(default_factory=dict)

    def __post_init__(self) -> None:
        for name in ("community_key", "sponsor_key"):
            if not isinstance(getattr(self, name), str) or not getattr(self, name):
                raise MissingKeys(f"{name} must be a non-empty str")
        if self.socket_timeout is not None and not (
                isinstance(self.socket_timeout, (int, float)) and not isinstance(self.socket_timeout, bool)
                and self.socket_timeout > 0):
            raise ValueError("socket_timeout must be a positive number of seconds")

    @classmethod
    def from_mapping(cls, values: Mapping[str, Any], prefix: str = PREFIX,
                     **overrides: Any) -> PaymentsConfig:
        """From `VEMRAT_PAY_COMMUNITY_KEY`, `VEMRAT_PAY_SPONSOR_KEY`,
        `VEMRAT_PAY_CALLBACK_BASE_URL`, `VEMRAT_PAY_SIGNATURE_HEADER` and
        `VEMRAT_PAY_SOCKET_TIMEOUT` in `values` (the environment, Flask's `app.config`, a
        settings object's dict); `overrides` win over them."""
        def get(name: str) -> Any:
            return overrides[name] if name in overrides else values.get(prefix + name.upper())

        missing = [prefix + name.upper() for name in ("community_key", "sponsor_key")
                   if not get(name)]
        if missing:
            raise MissingKeys(f"{' and '.join(missing)} not set: pass the merchant's keys in "
                              "(the environment, or the application's settings)")
        timeout = get("socket_timeout")
        return cls(
            community_key=get("community_key"), sponsor_key=get("sponsor_key"),
            callback_base_url=get("callback_base_url") or None,
            signature_header=get("signature_header") or DEFAULT_SIGNATURE_HEADER,
            socket_timeout=float(timeout) if timeout not in (None, "") else None,
            status_codes=get("status_codes") or {},
            currency_decimal_places=get("currency_decimal_places") or {})

    @classmethod
    def from_env(cls, prefix: str = PREFIX, **overrides: Any) -> PaymentsConfig:
        """`from_mapping(os.environ)`."""
        return cls.from_mapping(os.environ, prefix, **overrides)

    def client(self) -> vemrat_pay.Client:
        """A Client with these keys; it reads no file and imports nothing."""
        return vemrat_pay.Client(self.community_key, self.sponsor_key)

    def apply_socket_timeout(self) -> None:
        if self.socket_timeout is not None:
            import socket

            socket.setdefaulttimeout(self.socket_timeout)
