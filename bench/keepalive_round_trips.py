"""query_order and create_payment round trips to the local HTTPS sandbox, in another process:
the module through urllib's default opener (a new connection and TLS session per call), the
module through vemrat_pay_keepalive, and bench/pure_client.py on a requests Session."""

from __future__ import annotations

import contextlib
import dataclasses
import os
import subprocess
import sys
import time
import urllib.request
from collections.abc import Callable, Iterator

import requests

import vemrat_pay
import vemrat_pay_keepalive
from pure_client import PureClient, session_exchange

CA_LINE_PREFIX = "CA certificate: "
CPU_CALLS = 500


@dataclasses.dataclass(frozen=True)
class RunningSandbox:
    base_url: str
    ca_file: str
    pid: int

    def cpu_seconds(self) -> float:
        """The CPU time the sandbox's process has used so far (Linux)."""
        with open(f"/proc/{self.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_per_call(call: Callable[[], object], sandbox: RunningSandbox) -> str:
    """The CPU time one call costs this process and the sandbox's, over CPU_CALLS calls."""
    client, server = time.process_time(), sandbox.cpu_seconds()
    for _ in range(CPU_CALLS):
        call()
    client, server = time.process_time() - client, sandbox.cpu_seconds() - server
    return f"{client / CPU_CALLS * 1e6:.0f} + {server / CPU_CALLS * 1e6:.0f} µs"


@contextlib.contextmanager
def https_sandbox(community_key: str, sponsor_key: str) -> Iterator[RunningSandbox]:
    """Runs `python -m vemrat_pay_sandbox --https`; yields its base URL, the CA file it printed
    and its process id."""
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
        yield RunningSandbox(lines[0], lines[2][len(CA_LINE_PREFIX):].split(" (export ")[0], process.pid)
    finally:
        process.terminate()
        process.wait(timeout=30)


def bench_keepalive(table, timing, goal, community_key: str, sponsor_key: str, payment_args: tuple) -> None:
    with https_sandbox(community_key, sponsor_key) as sandbox, requests.Session() as session:
        os.environ["VEMRAT_PAY_BASE_URL"] = sandbox.base_url
        os.environ["SSL_CERT_FILE"] = sandbox.ca_file  # read when urllib makes its default SSL context
        client = vemrat_pay.Client(community_key, sponsor_key)
        pure = PureClient(community_key, sponsor_key, exchange=session_exchange(session, verify=sandbox.ca_file))
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
                fresh_cpu = cpu_per_call(module_call, sandbox)
                pool = vemrat_pay_keepalive.install()
                kept = timing.per_call(module_call)
                kept_cpu = cpu_per_call(module_call, sandbox)
                pool.close()
                session_time = timing.per_call(pure_call)
                session_cpu = cpu_per_call(pure_call, sandbox)
                table.section(f"{name}, round trip to the local HTTPS sandbox (python -m vemrat_pay_sandbox --https)")
                table.row("vemrat_pay, urllib's default opener (new TLS connection)", fresh)
                table.row("vemrat_pay + vemrat_pay_keepalive", kept, f"{fresh / kept:.1f}x faster",
                          goal(fresh / kept >= 10, ">= 10x") if name == "query_order" else "")
                table.row("pure-Python client on a requests Session", session_time,
                          f"keep-alive {session_time / kept:.2f}x faster", goal(session_time > kept, "keep-alive faster"))
                for label, cpu in (("default opener", fresh_cpu), ("keep-alive", kept_cpu), ("requests", session_cpu)):
                    table.row(f"CPU per call, client + sandbox: {label}", None, text=cpu)
        finally:
            urllib.request.install_opener(None)
            del os.environ["VEMRAT_PAY_BASE_URL"], os.environ["SSL_CERT_FILE"]
