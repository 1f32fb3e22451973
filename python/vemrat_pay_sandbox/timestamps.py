"""Times as the service writes them: UTC, whole seconds, ISO 8601 with a Z."""

from __future__ import annotations

from datetime import datetime, timezone


def iso_utc(seconds: float) -> str:
    return datetime.fromtimestamp(int(seconds), timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def seconds_since_1970(iso: str) -> float:
    return datetime.fromisoformat(iso).timestamp()
