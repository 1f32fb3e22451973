"""query_order and create_payment round trips to the local HTTPS sandbox, in another process:
the module through urllib's default opener (a new connection and TLS session per call), the
module through vemrat_pay_keepalive, and bench/pure_client.py on a requests Session."""

from __future__ import annotations

import contextlib
import os
import subprocess
import sys
import urllib.request
from collections.abc import Iterator

import requests

import vemrat_pay
import vemrat_pay_keepalive
from pure_client import PureClient, session_exchange

CA_LINE_PREFIX = "CA certificate: "


@contextlib.contextmanager
def https_sandbox(community_key: str, sponsor_key: str) -> Iterator[tuple[str, str]]:
    """Runs `python -m vemrat_pay_sandbox --https`; yields its base URL and the CA file it printed."""
    process = subprocess.Popen(
        [sys.executable, "-m", "vemrat_pay_sandbox", "--https", "--port", "0", "--db", ":memory:",
         "--merchant", f"{community_key}:{sponsor_key}"],
        stdout=subprocess.PIPE, text=True,
    )
    try:
        assert process.stdout is not None
        lines = [process.stdout.readline().strip() for _ in range(3)]
        if not lines[2].startswith(CA_LINE_PREFIX):
            raise SystemExit(f"the sandbox did not start with HTTPS: {lines!r}")
        yield lines[0], lines[2][len(CA_LINE_PREFIX):].split(" (export ")[0]
    finally:
        process.terminate()
        process.wait(timeout=30)


def bench_keepalive(table, timing, goal, community_key: str, sponsor_key: str, payment_args: tuple) -> None:
    with https_sandbox(community_key, sponsor_key) as (base_url, ca_file), requests.Session() as session:
        os.environ["VEMRAT_PAY_BASE_URL"] = base_url
        os.environ["SSL_CERT_FILE"] = ca_file  # read when urllib makes its default SSL context
        client = vemrat_pay.Client(community_key, sponsor_key)
        pure = PureClient(community_key, sponsor_key, exchange=session_exchange(session, verify=ca_file))
        order_id = client.create_payment(*payment_args).order_id
        operations = {
            "query_order": (lambda: client.query_order(order_id), lambda: pure.query_order(order_id)),
            "create_payment": (lambda: client.create_payment(*payment_args),
                               lambda: pure.create_payment(*payment_args)),
        }
        try:
            for name, (module_call, pure_call) in operations.items():
                urllib.request.install_opener(None)
                fresh = timing.per_call(module_call)
                pool = vemrat_pay_keepalive.install()
                kept = timing.per_call(module_call)
                pool.close()
                session_time = timing.per_call(pure_call)
                table.section(f"{name}, round trip to the local HTTPS sandbox (python -m vemrat_pay_sandbox --https)")
                table.row("vemrat_pay, urllib's default opener (new TLS connection)", fresh)
                table.row("vemrat_pay + vemrat_pay_keepalive", kept, f"{fresh / kept:.1f}x faster",
                          goal(fresh / kept >= 10, ">= 10x") if name == "query_order" else "")
                table.row("pure-Python client on a requests Session", session_time,
                          f"keep-alive {session_time / kept:.2f}x faster", goal(session_time > kept, "keep-alive faster"))
        finally:
            urllib.request.install_opener(None)
            del os.environ["VEMRAT_PAY_BASE_URL"], os.environ["SSL_CERT_FILE"]
