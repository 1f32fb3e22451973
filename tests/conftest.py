"""Fixtures shared by the tests of the module: a scripted service over HTTP and HTTPS, the
environment that points the module at it, a client, and a stub of urllib.request.urlopen."""

import urllib.request
from pathlib import Path

import pytest
from headless_chromium import chromium
from service_fixture import ServiceServer, StubTransport

import vemrat_pay

STUB_BASE_URL = "http://service.test"

# The Django app's suite has settings of its own: tests/test_django_app.py runs it.
collect_ignore = ["django_app"]


# Folders of tests of the companion packages (the `companion` mark; pyproject.toml says where
# each mark runs).
COMPANION_FOLDERS = {"sandbox", "keepalive", "ledger", "frameworks"}
TESTS = Path(__file__).resolve().parent


def pytest_collection_modifyitems(items):
    for item in items:
        # The test command installs the browser only when a selected test carries this mark.
        if "browser" in getattr(item, "fixturenames", ()):
            item.add_marker(pytest.mark.browser)
        if item.path.relative_to(TESTS).parts[0] in COMPANION_FOLDERS:
            item.add_marker(pytest.mark.companion)


@pytest.fixture
def browser():
    """Headless Chromium with a fresh profile; a test that takes it is marked `browser`."""
    with chromium() as driver:
        yield driver


@pytest.fixture
def service():
    """A running scripted service on 127.0.0.1; stopped after the test."""
    server = ServiceServer().start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def served(service, monkeypatch):
    """The scripted service, with VEMRAT_PAY_BASE_URL pointing at it for this test."""
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", service.url)
    return service


@pytest.fixture
def client():
    return vemrat_pay.Client("ck", "sk")


@pytest.fixture(scope="session")
def certificate_authority():
    import trustme

    return trustme.CA()


@pytest.fixture
def tls_service(certificate_authority, tmp_path):
    """The scripted service behind TLS, with a certificate for 127.0.0.1 issued by a test CA.
    `tls_service.ca_file` is the PEM file to trust (through SSL_CERT_FILE)."""
    import ssl

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    certificate_authority.issue_cert("127.0.0.1", "localhost").configure_cert(context)
    server = ServiceServer(tls=context)
    server.ca_file = str(tmp_path / "ca.pem")
    certificate_authority.cert_pem.write_to_path(server.ca_file)
    server.start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def stub(monkeypatch):
    """urllib.request.urlopen replaced by a recording stub; the base URL set to a fixed origin."""
    transport = StubTransport()
    monkeypatch.setattr(urllib.request, "urlopen", transport)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", STUB_BASE_URL)
    return transport
