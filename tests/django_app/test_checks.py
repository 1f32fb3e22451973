"""System checks: each mistake seen in practice, and a clean configuration that passes."""

from __future__ import annotations

import hashlib
import hmac
import pathlib
import socket
from collections.abc import Callable, Iterator
from typing import Any

import pytest
import vemrat_pay
from django.apps import apps
from django.core import checks
from vemrat_pay_django.checks.key_file import taken_line

KEYS = 'COMMUNITY_KEY = "ck"\nSPONSOR_KEY = "sk"\n'


@pytest.fixture
def clean(settings: Any, tmp_path: pathlib.Path,
          monkeypatch: pytest.MonkeyPatch) -> Iterator[Any]:
    """A configuration that passes every check; each case spoils one thing."""
    (tmp_path / "auth_key.py").write_text(KEYS, encoding="utf-8")
    settings.WORKING_SPACE = str(tmp_path)
    settings.VEMRAT_PAY = {"SOCKET_TIMEOUT": 10, "CALLBACK_BASE_URL": "https://shop.example"}
    settings.DEBUG = False
    monkeypatch.delenv("VEMRAT_PAY_BASE_URL", raising=False)
    monkeypatch.chdir(tmp_path)
    previous = socket.getdefaulttimeout()
    yield settings
    socket.setdefaulttimeout(previous)


def found() -> list[str]:
    return sorted(message.id or "" for message in checks.run_checks(tags=["vemrat_pay"]))


Spoiler = Callable[[Any, pytest.MonkeyPatch], None]


def key_file(text: str) -> Spoiler:
    def spoil(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
        pathlib.Path(settings.WORKING_SPACE, "auth_key.py").write_text(text, encoding="utf-8")
    return spoil


def vemrat_pay_setting(**values: object) -> Spoiler:
    def spoil(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
        settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, **values}
    return spoil


def setting(name: str, value: object) -> Spoiler:
    def spoil(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
        setattr(settings, name, value)
    return spoil


def environment(value: str) -> Spoiler:
    def spoil(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", value)
    return spoil


def no_timeout(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "SOCKET_TIMEOUT": None}
    socket.setdefaulttimeout(None)


def no_key_file(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    pathlib.Path(settings.WORKING_SPACE, "auth_key.py").unlink()


def working_space_path(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    settings.WORKING_SPACE = pathlib.Path(settings.WORKING_SPACE)


def several(*spoilers: Spoiler) -> Spoiler:
    def spoil(settings: Any, monkeypatch: pytest.MonkeyPatch) -> None:
        for spoiler in spoilers:
            spoiler(settings, monkeypatch)
    return spoil


CASES: list[tuple[str, Spoiler, list[str]]] = [
    ("clean", lambda settings, monkeypatch: None, []),
    ("keys in settings, no key file", several(no_key_file, vemrat_pay_setting(
        COMMUNITY_KEY="ck", SPONSOR_KEY="sk")), []),
    ("not a dict", setting("VEMRAT_PAY", ["SOCKET_TIMEOUT", 10]),
     ["vemrat_pay.E001", "vemrat_pay.W022"]),
    ("a misspelt key", vemrat_pay_setting(SIGNATURE_HEADR="X-Sig"), ["vemrat_pay.E002"]),
    ("a key given alone", vemrat_pay_setting(SPONSOR_KEY="sk"), ["vemrat_pay.E003"]),
    ("a timeout as text", vemrat_pay_setting(SOCKET_TIMEOUT="15"), ["vemrat_pay.E004"]),
    ("a callback base with a path", vemrat_pay_setting(CALLBACK_BASE_URL="https://shop.example/shop"),
     ["vemrat_pay.E004"]),
    ("status codes as text", vemrat_pay_setting(STATUS_CODES={"pay_status": {"1": "paid"}}),
     ["vemrat_pay.E004"]),
    ("an unknown status meaning", vemrat_pay_setting(STATUS_CODES={"pay_status": {4: "done"}}),
     ["vemrat_pay.E004"]),
    ("three decimal places", vemrat_pay_setting(CURRENCY_DECIMAL_PLACES={"KWD": 3}),
     ["vemrat_pay.E004"]),
    ("keep-alive as text", vemrat_pay_setting(KEEP_ALIVE="yes"), ["vemrat_pay.E004"]),
    ("keep-alive on", vemrat_pay_setting(KEEP_ALIVE=True), []),
    ("no key file", no_key_file, ["vemrat_pay.E010"]),
    ("no sponsor key line", key_file('COMMUNITY_KEY = "ck"\n'), ["vemrat_pay.E010"]),
    ("a pathlib.Path working space", working_space_path, ["vemrat_pay.E011"]),
    ("a trailing comment", key_file('COMMUNITY_KEY = "ck"\nSPONSOR_KEY = "sk"  # live key\n'),
     ["vemrat_pay.W012"]),
    ("an old key above the real one",
     key_file('COMMUNITY_KEY_OLD = "old"\nCOMMUNITY_KEY = "ck"\nSPONSOR_KEY = "sk"\n'),
     ["vemrat_pay.W013"]),
    ("an escape", key_file('COMMUNITY_KEY = "ck"\nSPONSOR_KEY = "s\\tk"\n'), ["vemrat_pay.W014"]),
    ("a string prefix", key_file('COMMUNITY_KEY = r"ck"\nSPONSOR_KEY = "sk"\n'),
     ["vemrat_pay.W014"]),
    ("an annotated line", key_file('COMMUNITY_KEY: str = "ck"\nSPONSOR_KEY = \'sk\'\n'), []),
    ("no timeout", no_timeout, ["vemrat_pay.W020"]),
    ("the sandbox in production", environment("http://127.0.0.1:8765"), ["vemrat_pay.W021"]),
    ("a local https sandbox in production", environment("https://localhost:8765"),
     ["vemrat_pay.W021"]),
    ("the sandbox while debugging", several(environment("http://127.0.0.1:8765"),
                                            setting("DEBUG", True)), []),
    ("the service in production", environment("https://api.vemrat.example"), []),
    ("plain http callbacks", vemrat_pay_setting(CALLBACK_BASE_URL="http://shop.example"),
     ["vemrat_pay.W022"]),
    ("callbacks on the request's scheme", vemrat_pay_setting(CALLBACK_BASE_URL=None),
     ["vemrat_pay.W022"]),
    ("callbacks behind a TLS proxy", several(
        vemrat_pay_setting(CALLBACK_BASE_URL=None),
        setting("SECURE_PROXY_SSL_HEADER", ("HTTP_X_FORWARDED_PROTO", "https"))), []),
    ("no callback route", setting("ROOT_URLCONF", "urls_without_app"), ["vemrat_pay.E023"]),
]


@pytest.mark.parametrize(("spoil", "expected"), [case[1:] for case in CASES],
                         ids=[case[0] for case in CASES])
def test_checks(clean: Any, spoil: Spoiler, expected: list[str],
                monkeypatch: pytest.MonkeyPatch) -> None:
    spoil(clean, monkeypatch)
    assert found() == expected


def test_a_timeout_of_the_wrong_kind_is_reported_not_fatal_at_start_up(clean: Any) -> None:
    socket.setdefaulttimeout(7)
    clean.VEMRAT_PAY = {**clean.VEMRAT_PAY, "SOCKET_TIMEOUT": "15"}
    apps.get_app_config("vemrat_pay").ready()
    assert socket.getdefaulttimeout() == 7
    assert found() == ["vemrat_pay.E004"]
    clean.VEMRAT_PAY = {**clean.VEMRAT_PAY, "SOCKET_TIMEOUT": 2.5}
    apps.get_app_config("vemrat_pay").ready()
    assert socket.getdefaulttimeout() == 2.5


def test_messages_never_show_a_key(clean: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    key_file('COMMUNITY_KEY_OLD = "old-secret"\nCOMMUNITY_KEY = "ck-secret"\n'
             'SPONSOR_KEY = "sk-secret"  # live\n')(clean, monkeypatch)
    messages = checks.run_checks(tags=["vemrat_pay"])
    assert [message.id for message in messages] == ["vemrat_pay.W013", "vemrat_pay.W012"]
    assert not any("secret" in f"{message.msg} {message.hint}" for message in messages)


@pytest.mark.parametrize("line", [
    'SPONSOR_KEY = "sk"',
    "SPONSOR_KEY='sk'",
    '\tSPONSOR_KEY   =   sk  ',
    'SPONSOR_KEY: str = "sk"',
    'SPONSOR_KEY = "s=k"',
    'SPONSOR_KEY = "sk"  # comment',
    'SPONSOR_KEY = """sk"""',
    'SPONSOR_KEY = r"sk"',
    'SPONSOR_KEY = " sk "',
    "SPONSOR_KEY = 'sk\"",
    'SPONSOR_KEY == "sk"',
    'SPONSOR_KEY_OLD = "old"\nSPONSOR_KEY = "sk"',
    '# SPONSOR_KEY = "x"\nSPONSOR_KEY\nSPONSOR_KEY = "sk"',
    'SPONSOR_KEY = "sk"\r\nCOMMUNITY_KEY = "ck"\r\n',
    'SPONSOR_KEY\u3000=\u00a0"sk"\u2003',
])
def test_the_key_file_model_reads_what_the_module_reads(line: str, tmp_path: pathlib.Path,
                                                        settings: Any) -> None:
    text = f'COMMUNITY_KEY = "ck"\n{line}\n'
    (tmp_path / "auth_key.py").write_text(text, encoding="utf-8", newline="")
    settings.WORKING_SPACE = str(tmp_path)
    taken = taken_line(text, "SPONSOR_KEY")
    assert taken is not None
    # The module's own reading, observed: it verifies a body signed with the key it read.
    body = '{"status":"paid"}'
    signature = hmac.new(taken.value.encode(), body.encode(), hashlib.sha256).hexdigest()
    assert vemrat_pay.Client().verify_callback(body, signature) == {"status": "paid"}
