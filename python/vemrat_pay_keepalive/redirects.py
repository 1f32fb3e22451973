"""urllib's redirect handler, except for answers from the service's origin."""

from __future__ import annotations

import http.client
import urllib.request
from typing import IO

from .pool import ConnectionPool


class ServiceRedirectHandler(urllib.request.HTTPRedirectHandler):
    """Follows redirects as urllib does, except those from the pool's origin: the service never
    redirects, so a 3xx from it is an error, raised by urlopen as the HTTPError it is (vemrat_pay
    reports "HTTP 302: ..."). Followed, a create_payment answered 302 would turn into a GET of
    the other URL, whose answer would be taken for the payment."""

    def __init__(self, pool: ConnectionPool) -> None:
        self.pool = pool

    def http_error_302(
        self, req: urllib.request.Request, fp: IO[bytes], code: int, msg: str, headers: http.client.HTTPMessage,
    ) -> urllib.request.Request | None:
        if self.pool.serves(req.full_url):
            return None  # urllib's default error handler raises the HTTPError
        return super().http_error_302(req, fp, code, msg, headers)

    http_error_301 = http_error_303 = http_error_307 = http_error_308 = http_error_302
