"""The shop's one vemrat_pay Client, and how to read a failed request."""

import functools
import urllib.error
from typing import Any

import vemrat_pay
from django.core.signals import setting_changed
from django.dispatch import receiver

# The header that carries a callback's signature.
SIGNATURE_HEADER = "X-Vemrat-Signature"


@functools.cache
def payment_client() -> vemrat_pay.Client:
    """The Client with the keys of auth_key.py in settings.WORKING_SPACE."""
    # Cached rather than built per request: a Client is immutable and thread-safe, so one
    # instance serves every request on every thread, and building it reads auth_key.py.
    # New keys take effect when the process restarts (or the setting changes, below).
    return vemrat_pay.Client()


@receiver(setting_changed)
def forget_client_on_new_working_space(*, setting: str, **kwargs: Any) -> None:
    if setting == "WORKING_SPACE":
        payment_client.cache_clear()


def is_timeout(error: OSError) -> bool:
    """Whether urllib gave up waiting, which says nothing about whether the service acted."""
    if isinstance(error, urllib.error.URLError):
        return isinstance(error.reason, TimeoutError)
    return isinstance(error, TimeoutError)
