"""The keep-alive opener keeps one connection to the service's origin for every call, and opens
every other URL as urllib always does."""

import urllib.request

import pytest
from keepalive_support import call_both

import vemrat_pay_keepalive
from vemrat_pay_keepalive import Origin

CALLS = 20


def test_one_connection_for_every_call(persistent, keep_alive, client):
    call_both(client, CALLS)
    assert persistent.connections == 1
    assert len(persistent.requests) == 2 * CALLS
    assert all(request.connection == 1 for request in persistent.requests)
    assert all("Connection" not in request.headers for request in persistent.requests)


def test_default_opener_opens_a_connection_per_call(persistent, client):
    call_both(client, 3)
    assert persistent.connections == 6
    assert all(request.headers["Connection"] == "close" for request in persistent.requests)


def test_other_hosts_are_opened_as_before(start_service, install, trust_test_ca, monkeypatch, client):
    # The same server under another host name is another origin.
    server = start_service("https")
    install(server.url)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url.replace("127.0.0.1", "localhost"))
    call_both(client, 3)
    assert server.connections == 6
    assert all(request.headers["Connection"] == "close" for request in server.requests)


def test_a_server_that_closes_each_connection(start_service, install, monkeypatch, client):
    # An HTTP/1.0 server that says "Connection: close": a new connection per call, as before.
    server = start_service("http", keep_alive=False)
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url)
    install()
    call_both(client, 3)
    assert server.connections == 6


def test_max_idle_zero_keeps_nothing(persistent, install, client):
    install(max_idle=0)
    call_both(client, 2)
    assert persistent.connections == 4


def test_other_schemes_pass_through(persistent, keep_alive, tmp_path):
    page = tmp_path / "page.txt"
    page.write_bytes(b"local file")
    with urllib.request.urlopen(page.as_uri()) as response:
        assert response.read() == b"local file"
    with urllib.request.urlopen("data:text/plain,inline") as response:
        assert response.read() == b"inline"


READERS = {
    "whole": lambda response: response.read(),
    "in parts": lambda response: [response.read(5), response.read(), response.read()],
    "peeked": lambda response: [response.peek(1)[:1], response.read()],
    "by line": lambda response: list(iter(response.readline, b"")),
    "iterated": lambda response: list(response),
    "into a buffer": lambda response: (lambda buffer: (response.readinto(buffer), bytes(buffer)))(bytearray(64)),
}


@pytest.mark.parametrize("read", READERS.values(), ids=READERS.keys())
def test_response_reads_like_urllibs(persistent, install, read):
    """What urlopen returns for the service's origin reads as urllib's own response does."""
    url = persistent.url + "/alipayment/sponsor/order-status/?order_id=Q1"

    def fetch():
        with urllib.request.urlopen(url) as response:
            seen = (response.status, response.reason, response.url, response.getcode(), read(response))
            return seen + (response.headers["Content-Length"], response.read(), response.isclosed())

    expected = fetch()
    install()
    assert fetch() == fetch() == expected
    assert expected[4] and persistent.connections == 2


@pytest.mark.parametrize(
    "environment, expected",
    [
        ({}, Origin("https", "api.vemrat.com", 443)),
        ({"VEMRAT_PAY_BASE_URL": "http://Sandbox.Test:8765/prefix"}, Origin("http", "sandbox.test", 8765)),
        ({"VEMRAT_PAY_BASE_URL": "https://[::1]"}, Origin("https", "::1", 443)),
    ],
)
def test_installs_for_the_base_url_in_force(install, monkeypatch, environment, expected):
    monkeypatch.delenv("VEMRAT_PAY_BASE_URL", raising=False)
    for name, value in environment.items():
        monkeypatch.setenv(name, value)
    assert install().origin == expected


@pytest.mark.parametrize("url", ["ftp://api.vemrat.com", "https://", "api.vemrat.com", "http://host:port"])
def test_refuses_a_url_without_an_http_origin(url):
    with pytest.raises(ValueError, match="not an http or https URL with a host"):
        vemrat_pay_keepalive.install(url)


def test_a_second_install_closes_the_first_ones_connections(persistent, install, client):
    install()
    client.query_order("Q1")
    install()
    client.query_order("Q1")
    persistent.wait_closed(1)
    assert persistent.connections == 2

