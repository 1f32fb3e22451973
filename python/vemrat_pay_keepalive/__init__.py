"""Persistent HTTP/1.1 connections to the payment service for vemrat_pay, through urllib.

vemrat_pay sends every request through `urllib.request.urlopen`, whose handlers open a new
connection (and a new TLS session) for each one. `install()` at start-up makes urlopen keep the
connections to the service's origin open and reuse them; every other URL is opened as before.
"""

from .handlers import KeepAliveHTTPHandler, KeepAliveHTTPSHandler
from .install import install, service_base_url
from .origin import Origin
from .pool import ConnectionPool
from .redirects import ServiceRedirectHandler

__all__ = [
    "ConnectionPool", "KeepAliveHTTPHandler", "KeepAliveHTTPSHandler", "Origin", "ServiceRedirectHandler", "install",
    "service_base_url",
]
