"""The one `vemrat_pay.Client` of the process, built from settings."""

from __future__ import annotations

import functools
from typing import Any

import vemrat_pay
from django.core.signals import setting_changed
from django.dispatch import receiver

from .conf import get_setting


@functools.cache
def get_client() -> vemrat_pay.Client:
    """The client with VEMRAT_PAY's keys, or else those of auth_key.py in WORKING_SPACE.

    A Client is immutable and may be shared by every thread, and building one from the key
    file reads the file, so one is built per process (and again when a setting it depends
    on changes, as tests do).
    """
    community_key = get_setting("COMMUNITY_KEY")
    sponsor_key = get_setting("SPONSOR_KEY")
    if community_key is not None and sponsor_key is not None:
        return vemrat_pay.Client(community_key, sponsor_key)
    return vemrat_pay.Client()


@receiver(setting_changed)
def forget_client(*, setting: str, **kwargs: Any) -> None:
    if setting in ("VEMRAT_PAY", "WORKING_SPACE"):
        get_client.cache_clear()
