"""The race of every keep-alive client, counted: 20 runs of five query_order calls against each
server that closes a kept connection after its answer without saying so (tests/keepalive/
closing_servers.py), through

- vemrat_pay with urllib's default opener (a new connection per call, so no race),
- vemrat_pay with vemrat_pay_keepalive,
- bench/pure_client.py on a requests Session (the pool merchants would otherwise use),

and the number of runs in which a call failed, with the first error. Not a timing: the failures
depend on the race, and the count differs from run to run (except for the server that closes
when the next request arrives, which wins every race).

    .venv/bin/python bench/keepalive_race.py    # after scripts/test.sh or scripts/bench.sh built the module
"""

from __future__ import annotations

import os
import sys
import urllib.request
from collections.abc import Callable
from pathlib import Path

import requests

import vemrat_pay
import vemrat_pay_keepalive

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "bench"), str(ROOT / "tests"), str(ROOT / "tests" / "keepalive")]
from closing_servers import CLOSING, close_after_each_answer  # noqa: E402
from pure_client import PureClient, session_exchange  # noqa: E402
from service_fixture import ServiceServer  # noqa: E402

RUNS = 20
CALLS_PER_RUN = 5
KEYS = ("ck", "sk")


def failed_runs(query: Callable[[], object]) -> tuple[int, str]:
    """The runs of CALLS_PER_RUN calls in which one failed (the run stops there), and the first error."""
    failed, first = 0, ""
    for _ in range(RUNS):
        try:
            for _ in range(CALLS_PER_RUN):
                query()
        except OSError as error:  # requests' ConnectionError is an OSError too
            failed += 1
            first = first or f"{type(error).__module__}.{type(error).__qualname__}: {error}"
    return failed, first


def default_opener(url: str) -> Callable[[], object]:
    urllib.request.install_opener(None)
    client = vemrat_pay.Client(*KEYS)
    return lambda: client.query_order("Q1")


def keep_alive(url: str) -> Callable[[], object]:
    vemrat_pay_keepalive.install(url)
    client = vemrat_pay.Client(*KEYS)
    return lambda: client.query_order("Q1")


def requests_session(url: str) -> Callable[[], object]:
    client = PureClient(*KEYS, exchange=session_exchange(requests.Session()))
    return lambda: client.query_order("Q1")


CLIENTS = {
    "vemrat_pay, urllib's default opener": default_opener,
    "vemrat_pay + vemrat_pay_keepalive": keep_alive,
    "pure-Python client on a requests Session": requests_session,
}


def main() -> None:
    print(f"failed runs of {RUNS}, each {CALLS_PER_RUN} query_order calls")
    for closing, delay in CLOSING.items():
        print(f"  server that {closing}")
        for name, make in CLIENTS.items():
            server = ServiceServer(keep_alive=True).start()
            try:
                close_after_each_answer(server, delay)
                os.environ["VEMRAT_PAY_BASE_URL"] = server.url
                failed, first = failed_runs(make(server.url))
            finally:
                urllib.request.install_opener(None)
                server.stop()
            print(f"    {name:44} {failed:2} of {RUNS}  {first}")


if __name__ == "__main__":
    main()
