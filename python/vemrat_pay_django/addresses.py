"""Absolute URLs this app gives the service: the callback URL of a payment, and return URLs."""

from __future__ import annotations

import urllib.parse
import uuid

from django.core.exceptions import ImproperlyConfigured
from django.http import HttpRequest
from django.urls import reverse

from .conf import get_setting


def callback_url(reference: uuid.UUID, request: HttpRequest | None) -> str:
    """The URL at which the service reports on the payment with this reference."""
    return absolute_url(reverse("vemrat_pay:callback", args=[reference]), request)


def absolute_url(url: str, request: HttpRequest | None) -> str:
    """`url` made absolute: on CALLBACK_BASE_URL (an origin) when that is set, else the request's."""
    if urllib.parse.urlsplit(url).scheme:
        return url
    base: str | None = get_setting("CALLBACK_BASE_URL")
    if base:
        return base.rstrip("/") + "/" + url.lstrip("/")
    if request is not None:
        return request.build_absolute_uri(url)
    raise ImproperlyConfigured(
        "VEMRAT_PAY['CALLBACK_BASE_URL'] is needed to build the URL of a callback or return "
        "page when no request is at hand (pass request= to start_payment, or set it to the "
        "shop's public origin, such as 'https://shop.example')")
