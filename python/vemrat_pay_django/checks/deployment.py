"""How the app meets the network: timeouts, the service's URL, the callback URLs and route."""

from __future__ import annotations

import ipaddress
import os
import socket
import urllib.parse
import uuid
from typing import Any

from django.conf import settings
from django.core.checks import CheckMessage, Error, Warning
from django.urls import NoReverseMatch, reverse

from ..conf import get_setting


def check_socket_timeout(**kwargs: Any) -> list[CheckMessage]:
    if get_setting("SOCKET_TIMEOUT") is not None or socket.getdefaulttimeout() is not None:
        return []
    return [Warning(
        "No socket timeout is set: a request to the payment service that gets no answer "
        "waits forever (vemrat_pay has no timeout of its own).",
        hint="Set VEMRAT_PAY = {\"SOCKET_TIMEOUT\": 15, ...}.", id="vemrat_pay.W020")]


def check_base_url(**kwargs: Any) -> list[CheckMessage]:
    base_url = os.environ.get("VEMRAT_PAY_BASE_URL")
    if settings.DEBUG or base_url is None or not is_local(base_url):
        return []
    return [Warning(
        f"VEMRAT_PAY_BASE_URL is {base_url!r}, a local sandbox, while DEBUG is False: "
        "payments made here are not real.",
        hint="Unset VEMRAT_PAY_BASE_URL in production; the module then uses the service.",
        id="vemrat_pay.W021")]


def check_callback_base_url(**kwargs: Any) -> list[CheckMessage]:
    if settings.DEBUG:
        return []
    base = get_setting("CALLBACK_BASE_URL")
    if base is None:
        if settings.SECURE_SSL_REDIRECT or settings.SECURE_PROXY_SSL_HEADER:
            return []
        problem = ("callback URLs take the scheme of the request that starts the payment, and "
                   "neither SECURE_SSL_REDIRECT nor SECURE_PROXY_SSL_HEADER makes that https")
    elif isinstance(base, str) and not base.startswith("https://"):
        problem = f"CALLBACK_BASE_URL is {base!r}"
    else:
        return []
    return [Warning(
        f"Callback URLs may not be HTTPS while DEBUG is False: {problem}. The service would "
        "send its callbacks unencrypted.",
        hint="Set VEMRAT_PAY[\"CALLBACK_BASE_URL\"] to the shop's https:// origin.",
        id="vemrat_pay.W022")]


def check_urls(**kwargs: Any) -> list[CheckMessage]:
    try:
        reverse("vemrat_pay:callback", args=[uuid.UUID(int=0)])
    except NoReverseMatch:
        return [Error(
            "The callback view is not in the URLconf: the service's callbacks cannot arrive.",
            hint="Add path(\"vemrat-pay/\", include(\"vemrat_pay_django.urls\")) to the "
                 "project's urlpatterns.", id="vemrat_pay.E023")]
    return []


def is_local(url: str) -> bool:
    """Whether `url` points at this machine (where a sandbox runs) or is not HTTPS."""
    parts = urllib.parse.urlsplit(url)
    host = parts.hostname or ""
    if parts.scheme != "https" or host == "localhost" or host.endswith(".localhost"):
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False
