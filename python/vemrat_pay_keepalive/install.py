"""The one call a merchant makes at start-up."""

from __future__ import annotations

import os
import threading
import urllib.request

from .handlers import KeepAliveHTTPHandler, KeepAliveHTTPSHandler
from .origin import Origin
from .pool import ConnectionPool
from .redirects import ServiceRedirectHandler

BASE_URL_VARIABLE = "VEMRAT_PAY_BASE_URL"
DEFAULT_BASE_URL = "https://api.vemrat.com"

_lock = threading.Lock()
_installed: ConnectionPool | None = None


def service_base_url() -> str:
    """The base URL vemrat_pay sends its next request to."""
    value = os.environ.get(BASE_URL_VARIABLE)
    if value is None:
        return DEFAULT_BASE_URL
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:  # not UTF-8 in the environment
        return DEFAULT_BASE_URL
    return value


def install(base_url: str | None = None, *, max_idle: int = 10) -> ConnectionPool:
    """Makes every urlopen() of the process keep its connections to the origin of `base_url` (by
    default the base URL vemrat_pay uses now) open for the next request, at most `max_idle` idle
    ones; every other URL is opened as before. Replaces the opener installed before, and closes the
    connections of an earlier install(). A redirect from that origin is not followed: urlopen raises
    it as an HTTPError. Returns the pool, whose close() closes its connections."""
    global _installed
    url = service_base_url() if base_url is None else base_url
    origin = Origin.of(url)
    if origin is None:
        raise ValueError(f"not an http or https URL with a host: {url!r}")
    pool = ConnectionPool(origin, max_idle)
    opener = urllib.request.build_opener(
        KeepAliveHTTPHandler(pool), KeepAliveHTTPSHandler(pool), ServiceRedirectHandler(pool),
    )
    with _lock:
        urllib.request.install_opener(opener)
        previous, _installed = _installed, pool
    if previous is not None:
        previous.close()
    return pool
