"""urllib's HTTP and HTTPS handlers, which send requests for the pool's origin on pooled
connections and every other request exactly as they always do."""

from __future__ import annotations

import functools
import http.client
import urllib.request
from typing import Any

from .connections import POOLED_CLASSES
from .exchange import PooledExchange
from .pool import ConnectionPool


class KeepAlive(urllib.request.AbstractHTTPHandler):
    pool: ConnectionPool

    def do_open(self, http_class: Any, req: urllib.request.Request, **http_conn_args: Any) -> http.client.HTTPResponse:
        pooled = POOLED_CLASSES.get(http_class)
        if pooled is None or not self.pool.serves(req.full_url):
            return super().do_open(http_class, req, **http_conn_args)
        # do_open needs of its connection only the HTTPConnection methods that PooledExchange has.
        exchange: Any = functools.partial(PooledExchange, self.pool, pooled)
        return super().do_open(exchange, req, **http_conn_args)


class KeepAliveHTTPHandler(KeepAlive, urllib.request.HTTPHandler):
    def __init__(self, pool: ConnectionPool) -> None:
        super().__init__()
        self.pool = pool


class KeepAliveHTTPSHandler(KeepAlive, urllib.request.HTTPSHandler):
    """Its SSL context is urllib's default one, made when the handler is."""

    def __init__(self, pool: ConnectionPool) -> None:
        super().__init__()
        self.pool = pool
