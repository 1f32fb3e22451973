"""Fixtures of the keep-alive tests: scripted services that keep connections open, over HTTP and
HTTPS, and the keep-alive opener installed for them."""

import ssl
import urllib.request

import pytest
from keepalive_support import answer_each
from service_fixture import ServiceServer

import vemrat_pay_keepalive


@pytest.fixture
def ca_file(certificate_authority, tmp_path):
    path = tmp_path / "ca.pem"
    certificate_authority.cert_pem.write_to_path(str(path))
    return str(path)


@pytest.fixture
def trust_test_ca(ca_file, monkeypatch):
    """Python's default SSL context trusts the test CA (urllib makes its context after this)."""
    monkeypatch.setenv("SSL_CERT_FILE", ca_file)
    urllib.request.install_opener(None)


@pytest.fixture
def start_service(certificate_authority):
    """start_service(scheme, keep_alive=True, names=...) starts a scripted service that answers
    every request as the operations expect; all are stopped after the test."""
    started = []

    def start(scheme, keep_alive=True, names=("127.0.0.1", "localhost")):
        context = None
        if scheme == "https":
            context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            certificate_authority.issue_cert(*names).configure_cert(context)
        server = ServiceServer(tls=context, keep_alive=keep_alive)
        server.respond = answer_each
        started.append(server.start())
        return server

    yield start
    for server in started:
        server.stop()


@pytest.fixture(params=["http", "https"])
def persistent(request, start_service, trust_test_ca, monkeypatch):
    """A service that keeps connections open, over HTTP and over HTTPS; the base URL points at it."""
    server = start_service(request.param)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url)
    return server


@pytest.fixture
def install():
    """vemrat_pay_keepalive.install, undone after the test: its pools closed, urllib's default opener
    back in place."""
    pools = []

    def install_(*args, **options):
        pools.append(vemrat_pay_keepalive.install(*args, **options))
        return pools[-1]

    yield install_
    for pool in pools:
        pool.close()
    urllib.request.install_opener(None)


@pytest.fixture
def keep_alive(persistent, install):
    """The keep-alive opener installed for the persistent service; returns its pool."""
    return install()


@pytest.fixture(params=["default opener", "keep-alive opener"])
def either_opener(request, persistent, install):
    """urllib's default opener, then the keep-alive one, for the persistent service: a failure must
    look the same through both."""
    urllib.request.install_opener(None)
    return install() if request.param == "keep-alive opener" else None
