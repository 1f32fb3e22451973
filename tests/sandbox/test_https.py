"""HTTPS when asked: a certificate made at start-up by a local CA that merchants trust through
SSL_CERT_FILE or an SSL context, checked by the real module and by Python's own TLS."""

import http.client
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import urllib.error
import urllib.request

import pytest

import vemrat_pay
from vemrat_pay_sandbox import Sandbox
from wire import CallbackReceiver, SlowClient, wait_until

PACKAGE_ROOT = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "python")


@pytest.fixture(scope="module")
def secure():
    with Sandbox({"ck": "sk"}, https=True, retry_delays=(0.01,)) as running:
        yield running


@pytest.fixture
def trusted(monkeypatch):
    """Points SSL_CERT_FILE at a CA file as a merchant's process would at start-up.

    urllib builds its default opener, and the TLS context in it, on first use: a fresh one
    is installed here so that it reads the variable, and dropped afterwards."""

    def trust(ca_file: str) -> None:
        monkeypatch.setenv("SSL_CERT_FILE", ca_file)
        monkeypatch.setenv("SSL_CERT_DIR", os.path.dirname(ca_file))
        urllib.request.install_opener(urllib.request.build_opener())

    yield trust
    urllib.request.install_opener(None)


def test_the_module_pays_over_https_trusting_the_printed_ca(secure, monkeypatch, trusted):
    assert secure.base_url.startswith("https://127.0.0.1:")
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", secure.base_url)
    trusted(secure.ca_file)
    client = vemrat_pay.Client("ck", "sk")
    with CallbackReceiver() as receiver:
        payment = client.create_payment(3.5, "CNY", "acct", receiver.url)
        assert payment.pay_url == f"{secure.base_url}/pay/{payment.order_id}"
        assert client.query_order(payment.order_id).amount == "3.50"
        pay = urllib.request.Request(f"{secure.base_url}/sandbox/orders/{payment.order_id}/pay",
                                     b"", method="POST")
        with urllib.request.urlopen(pay, timeout=10) as answer:
            assert answer.status == 200
        secure.wait_for_callbacks()
    assert json.loads(receiver.received[0][1])["order_id"] == payment.order_id


def test_without_the_ca_the_certificate_is_refused(secure, monkeypatch, trusted, tmp_path):
    monkeypatch.setenv("VEMRAT_PAY_BASE_URL", secure.base_url)
    empty = tmp_path / "none.pem"
    empty.write_text("")
    trusted(str(empty))
    with pytest.raises(urllib.error.URLError) as raised:
        vemrat_pay.Client("ck", "sk").query_order("VP1")
    assert isinstance(raised.value.reason, ssl.SSLCertVerificationError)


@pytest.mark.parametrize("host", ["127.0.0.1", "localhost"])
def test_the_certificate_passes_the_default_context_checks_for_each_name(secure, host):
    context = ssl.create_default_context(cafile=secure.ca_file)  # strict X.509 checks included
    port = secure.server.server_address[1]
    connection = http.client.HTTPSConnection(host, port, context=context, timeout=10)
    for _ in range(3):
        connection.request("GET", "/sandbox/faults")
        answer = connection.getresponse()
        assert (answer.status, json.loads(answer.read())) == (200, {"data": []})
    certificate = connection.sock.getpeercert()
    connection.close()
    assert ("DNS", "localhost") in certificate["subjectAltName"]
    assert ("IP Address", "127.0.0.1") in certificate["subjectAltName"]


def test_one_tls_handshake_serves_many_requests():
    with Sandbox({"ck": "sk"}, https=True) as sandbox:
        context = ssl.create_default_context(cafile=sandbox.ca_file)
        connection = http.client.HTTPSConnection("127.0.0.1", sandbox.server.server_address[1],
                                                 context=context, timeout=10)
        for _ in range(5):
            connection.request("GET", "/sandbox/orders")
            assert connection.getresponse().read() == b'{"data":[]}'
        connection.close()
        assert sandbox.server.connections_accepted == 1


def test_plain_http_on_the_https_port_is_told_to_use_https(secure):
    with socket.create_connection(secure.server.server_address[:2], timeout=10) as connection:
        connection.sendall(b"GET /sandbox/orders HTTP/1.1\r\nHost: x\r\n\r\n")
        answer = connection.makefile("rb").read()
    head, _, body = answer.partition(b"\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 400 ")
    assert json.loads(body) == {"detail": "this sandbox speaks HTTPS: use an https:// URL"}


def test_a_failed_handshake_leaves_the_server_serving(secure):
    context = ssl.create_default_context()  # does not trust the sandbox's CA
    with pytest.raises(ssl.SSLCertVerificationError):
        with socket.create_connection(secure.server.server_address[:2], timeout=10) as raw:
            context.wrap_socket(raw, server_hostname="127.0.0.1")
    trusting = ssl.create_default_context(cafile=secure.ca_file)
    connection = http.client.HTTPSConnection("127.0.0.1", secure.server.server_address[1],
                                             context=trusting, timeout=10)
    connection.request("GET", "/sandbox/orders")
    assert connection.getresponse().status == 200
    connection.close()


def test_a_kept_tls_directory_keeps_its_ca_across_restarts(tmp_path):
    with Sandbox({"ck": "sk"}, https=True, tls_dir=str(tmp_path)) as first:
        ca = open(first.ca_file).read()
    with Sandbox({"ck": "sk"}, https=True, tls_dir=str(tmp_path)) as second:
        assert open(second.ca_file).read() == ca
        context = ssl.create_default_context(cafile=second.ca_file)
        with socket.create_connection(second.server.server_address[:2], timeout=10) as raw:
            with context.wrap_socket(raw, server_hostname="localhost") as secured:
                assert secured.version() in ("TLSv1.2", "TLSv1.3")
    assert oct(os.stat(tmp_path / "ca.key").st_mode & 0o777) == "0o600"


def test_a_temporary_tls_directory_goes_away_with_the_sandbox():
    sandbox = Sandbox({"ck": "sk"}, https=True)
    folder = os.path.dirname(sandbox.ca_file)
    assert os.path.exists(sandbox.ca_file)
    sandbox.stop()
    assert not os.path.exists(folder)


def test_the_command_prints_the_ca_file_to_trust(tmp_path):
    env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT)
    process = subprocess.Popen(
        [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant", "ck:sk", "--https",
         "--tls-dir", str(tmp_path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        env=env)
    try:
        base_url = process.stdout.readline().strip()
        assert process.stdout.readline() == f"dashboard: {base_url}/sandbox/\n"
        ca_file = str(tmp_path / "ca.pem")
        assert process.stdout.readline() == \
            f"CA certificate: {ca_file} (export SSL_CERT_FILE={ca_file})\n"
        context = ssl.create_default_context(cafile=ca_file)
        host, port = base_url.removeprefix("https://").rsplit(":", 1)
        connection = http.client.HTTPSConnection(host, int(port), context=context, timeout=10)
        connection.request("GET", "/sandbox/")
        assert connection.getresponse().status == 200
        connection.close()
    finally:
        process.send_signal(signal.SIGTERM)
        _, stderr = process.communicate(timeout=10)
    assert process.returncode == 0, stderr


def test_https_without_openssl_says_what_to_install(tmp_path):
    code = ("from vemrat_pay_sandbox import Sandbox\n"
            "try:\n    Sandbox({'ck': 'sk'}, https=True)\n"
            "except RuntimeError as error:\n    print(error)\n")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            env=dict(os.environ, PYTHONPATH=PACKAGE_ROOT, PATH=str(tmp_path)),
                            timeout=30)
    assert result.stdout.startswith("HTTPS needs the openssl command"), result.stderr
    assert "apt-get install openssl" in result.stdout


def client_hello() -> bytes:
    """The first flight of a TLS client, as it would go on the wire."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    handshake = ssl.create_default_context().wrap_bio(incoming, outgoing, server_hostname="127.0.0.1")
    with pytest.raises(ssl.SSLWantReadError):
        handshake.do_handshake()
    return outgoing.read()


def test_a_slow_handshake_cannot_hold_the_connection_slot():
    with Sandbox({"ck": "sk"}, https=True, max_connections=1, request_timeout=0.5) as sandbox:
        slow = SlowClient(sandbox.server.server_address, b"", client_hello())
        try:
            wait_until(lambda: sandbox.server.connections_accepted == 1)
            context = ssl.create_default_context(cafile=sandbox.ca_file)
            with urllib.request.urlopen(sandbox.base_url + "/sandbox/orders", timeout=10,
                                        context=context) as answer:
                assert answer.read() == b'{"data":[]}'
        finally:
            slow.close()
        assert slow.answer == b""  # cut off: no channel to answer on
