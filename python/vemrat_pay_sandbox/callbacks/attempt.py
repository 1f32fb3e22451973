"""One delivery attempt: a POST of the callback to the merchant's notify URL."""

from __future__ import annotations

import urllib.error
import urllib.request
from dataclasses import dataclass

from ..urls import ascii_url
from .message import SIGNATURE_HEADER

DEFAULT_TIMEOUT = 5.0


class _NoRedirects(urllib.request.HTTPRedirectHandler):
    # A redirect answers the callback no more than an error does, and following it would
    # turn the POST into a GET without the body.
    def redirect_request(self, *args: object, **kwargs: object) -> None:
        return None


_opener = urllib.request.build_opener(_NoRedirects)


@dataclass(frozen=True)
class Outcome:
    """The receiver's HTTP status, or None and the error text."""
    status: int | None
    error: str

    @property
    def delivered(self) -> bool:
        return self.status is not None and 200 <= self.status < 300


def attempt(url: str, body: str, signature: str, timeout: float = DEFAULT_TIMEOUT) -> Outcome:
    """POST the callback once; never raises for a receiver that is down or answers badly."""
    try:
        request = urllib.request.Request(
            ascii_url(url), data=body.encode("utf-8"), method="POST",
            headers={"Content-Type": "application/json", SIGNATURE_HEADER: signature})
        with _opener.open(request, timeout=timeout) as response:
            response.read()
            status: int = response.status
            return Outcome(status, "" if 200 <= status < 300 else f"HTTP {status}")
    except urllib.error.HTTPError as error:
        error.close()
        return Outcome(error.code, f"HTTP {error.code}")
    except (OSError, ValueError) as error:
        return Outcome(None, f"{type(error).__name__}: {error}")
