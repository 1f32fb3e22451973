"""Proxies as urllib uses them: from the environment, bypassed by no_proxy, a forwarding proxy for
http and a CONNECT tunnel for https; the keep-alive opener keeps the connection to the proxy."""

import base64

import pytest
from keepalive_support import call_both
from proxy_server import Proxy

CALLS = 3
CREDENTIALS = "merchant:proxy-secret"
AUTHORIZATION = "Basic " + base64.b64encode(CREDENTIALS.encode()).decode()


@pytest.fixture
def proxy():
    running = Proxy().start()
    yield running
    running.stop()


@pytest.fixture(params=[False, True], ids=["default opener", "keep-alive opener"])
def keep_alive_or_not(request):
    return request.param


@pytest.fixture
def proxied(request, start_service, trust_test_ca, proxy, install, monkeypatch, keep_alive_or_not):
    """proxied(scheme, no_proxy="") starts a service, points the base URL at it and the proxy
    variables at the proxy, then installs the opener under test."""

    def set_up(scheme, no_proxy=""):
        server = start_service(scheme)
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url)
        monkeypatch.setenv(f"{scheme}_proxy", proxy.url(CREDENTIALS))
        monkeypatch.setenv("no_proxy", no_proxy)
        if keep_alive_or_not:
            install()
        return server

    return set_up


def test_http_through_a_forwarding_proxy(proxied, proxy, client, keep_alive_or_not):
    server = proxied("http")
    call_both(client, CALLS)
    assert proxy.connections == (1 if keep_alive_or_not else 2 * CALLS)
    assert [authorization for _, authorization in proxy.forwarded] == [AUTHORIZATION] * 2 * CALLS
    assert all(url.startswith(server.url + "/alipayment/sponsor/") for url, _ in proxy.forwarded)
    assert all("Proxy-Authorization" not in request.headers for request in server.requests)


def test_https_through_a_tunnel(proxied, proxy, client, keep_alive_or_not):
    server = proxied("https")
    call_both(client, CALLS)
    tunnels = 1 if keep_alive_or_not else 2 * CALLS
    assert proxy.connections == server.connections == tunnels
    assert proxy.tunnels == [(f"127.0.0.1:{server.port}", AUTHORIZATION)] * tunnels
    assert len(server.requests) == 2 * CALLS
    assert all("Proxy-Authorization" not in request.headers for request in server.requests)


@pytest.mark.parametrize("scheme", ["http", "https"])
def test_no_proxy_goes_straight_to_the_service(proxied, proxy, client, keep_alive_or_not, scheme):
    server = proxied(scheme, no_proxy="127.0.0.1")
    call_both(client, CALLS)
    assert proxy.connections == 0
    assert server.connections == (1 if keep_alive_or_not else 2 * CALLS)
