"""Configuration without auth_key.py: keys passed in from the environment or an application's
settings, refused when missing, never shown; and a shop without Django builds its client."""

from __future__ import annotations

import logging
import subprocess
import sys
import textwrap
from typing import Any

import pytest
from sqlalchemy import create_engine
from vemrat_pay_sqlalchemy import MissingKeys, Payments, PaymentsConfig

COMMUNITY, SPONSOR = "community-0f3a9c", "sponsor-7d21e8"

# Settings given -> the configuration read from them (None: refused, naming what is missing).
MAPPINGS: dict[str, tuple[dict[str, Any], dict[str, Any] | None]] = {
    "keys only": ({"VEMRAT_PAY_COMMUNITY_KEY": COMMUNITY, "VEMRAT_PAY_SPONSOR_KEY": SPONSOR},
                  {"callback_base_url": None, "signature_header": "X-Vemrat-Signature",
                   "socket_timeout": None}),
    "everything": ({"VEMRAT_PAY_COMMUNITY_KEY": COMMUNITY, "VEMRAT_PAY_SPONSOR_KEY": SPONSOR,
                    "VEMRAT_PAY_CALLBACK_BASE_URL": "https://shop.example",
                    "VEMRAT_PAY_SIGNATURE_HEADER": "X-Signature",
                    "VEMRAT_PAY_SOCKET_TIMEOUT": "15"},
                   {"callback_base_url": "https://shop.example", "signature_header": "X-Signature",
                    "socket_timeout": 15.0}),
    "sponsor key missing": ({"VEMRAT_PAY_COMMUNITY_KEY": COMMUNITY}, None),
    "keys empty": ({"VEMRAT_PAY_COMMUNITY_KEY": "", "VEMRAT_PAY_SPONSOR_KEY": ""}, None),
}


@pytest.mark.parametrize("values, expected", MAPPINGS.values(), ids=MAPPINGS.keys())
def test_settings_are_read_from_a_mapping(values: dict[str, Any],
                                          expected: dict[str, Any] | None) -> None:
    if expected is None:
        with pytest.raises(MissingKeys, match="VEMRAT_PAY_SPONSOR_KEY") as raised:
            PaymentsConfig.from_mapping(values)
        assert COMMUNITY not in str(raised.value)
        return
    config = PaymentsConfig.from_mapping(values)
    assert {name: getattr(config, name) for name in expected} == expected
    assert (config.community_key, config.sponsor_key) == (COMMUNITY, SPONSOR)


def test_the_environment_is_read_and_overrides_win(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv("VEMRAT_PAY_COMMUNITY_KEY", COMMUNITY)
    monkeypatch.setenv("VEMRAT_PAY_SPONSOR_KEY", SPONSOR)
    config = PaymentsConfig.from_env(callback_base_url="https://shop.example")
    assert (config.sponsor_key, config.callback_base_url) == (SPONSOR, "https://shop.example")


def test_keys_are_never_shown(caplog: pytest.LogCaptureFixture) -> None:
    config = PaymentsConfig(community_key=COMMUNITY, sponsor_key=SPONSOR)
    payments = Payments(config, create_engine("sqlite://"))
    logging.getLogger("test").warning("configured: %r %s %r", config, config, payments)
    shown = repr(config) + str(config) + repr(payments) + caplog.text + repr(config.client())
    assert COMMUNITY not in shown and SPONSOR not in shown


def test_a_shop_without_django_builds_its_client_and_the_bare_client_needs_django() -> None:
    # A fresh interpreter in which Django cannot be imported, as on a FastAPI or Flask host.
    script = textwrap.dedent(f"""
        import sys
        sys.modules["django"] = None  # not installed
        import vemrat_pay
        from vemrat_pay_sqlalchemy import PaymentsConfig
        client = PaymentsConfig(community_key="{COMMUNITY}", sponsor_key="{SPONSOR}").client()
        print(type(client).__name__)
        try:
            vemrat_pay.Client()
        except ModuleNotFoundError as error:
            print(type(error).__name__, error.name)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.stdout.split() == ["Client", "ModuleNotFoundError", "django.conf"], result.stderr
