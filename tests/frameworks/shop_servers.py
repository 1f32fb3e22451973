"""The example shops as their users run them: the sandbox as a process, the FastAPI shop under
uvicorn on PostgreSQL, the Flask shop under gunicorn on SQLite."""

from __future__ import annotations

import json
import os
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request
from collections.abc import Iterator
from contextlib import ExitStack, contextmanager
from dataclasses import dataclass
from pathlib import Path
from typing import Any

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
COMMUNITY_KEY, SPONSOR_KEY = "shop-community", "shop-sponsor"
# Short enough for the timeout case, long enough for a busy machine's ordinary answers.
SOCKET_TIMEOUT = "5"


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


def wait_until_listening(process: subprocess.Popen[Any], port: int) -> None:
    """Until the process accepts connections on the port; it must not exit meanwhile."""
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError(f"the server exited with {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)  # polling the port itself, bounded above
    raise AssertionError(f"nothing listens on port {port}")


@dataclass
class Answer:
    status: int
    headers: dict[str, str]
    text: str

    def json(self) -> Any:
        return json.loads(self.text)


class NoRedirects(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args: Any, **kwargs: Any) -> None:
        return None


OPENER = urllib.request.build_opener(NoRedirects)


def http(method: str, url: str, data: bytes | None = None,
         headers: dict[str, str] | None = None) -> Answer:
    """One request, redirects not followed, error statuses returned like any other."""
    request = urllib.request.Request(url, data=data, headers=headers or {}, method=method)
    try:
        with OPENER.open(request, timeout=60) as response:
            return Answer(response.status, dict(response.headers), response.read().decode())
    except urllib.error.HTTPError as error:
        return Answer(error.code, dict(error.headers), error.read().decode())


@dataclass
class RunningShop:
    name: str
    url: str
    sandbox_url: str
    directory: Path
    environment: dict[str, str]

    def order(self, order_id: str) -> dict[str, Any]:
        data: dict[str, Any] = http("GET", f"{self.sandbox_url}/sandbox/orders/{order_id}").json()["data"]
        return data

    def orders(self) -> list[dict[str, Any]]:
        data: list[dict[str, Any]] = http("GET", f"{self.sandbox_url}/sandbox/orders").json()["data"]
        return data

    def add_fault(self, **rule: Any) -> None:
        answer = http("POST", f"{self.sandbox_url}/sandbox/faults", json.dumps(rule).encode())
        assert answer.status == 200, answer.text

    def act(self, order_id: str, action: str) -> dict[str, Any]:
        """Moves the order at the service; the order once its callback has been answered."""
        answer = http("POST", f"{self.sandbox_url}/sandbox/orders/{order_id}/{action}", b"{}")
        assert answer.status == 200, answer.text
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            order = self.order(order_id)
            if order["callbacks"] and order["callbacks"][-1]["state"] not in ("scheduled",):
                return order
            time.sleep(0.05)  # polling the sandbox's record, bounded above
        raise AssertionError(f"the callback of {order_id} was not delivered: {self.order(order_id)}")


def shop_command(name: str, port: int) -> list[str]:
    if name == "fastapi":
        return [sys.executable, "-m", "uvicorn", "shop.app:create_app", "--factory",
                "--host", "127.0.0.1", "--port", str(port), "--log-level", "warning"]
    return [sys.executable, "-m", "gunicorn", "--bind", f"127.0.0.1:{port}", "--workers", "2",
            "--threads", "4", "--log-level", "warning", "shop:create_app()"]


@contextmanager
def running_shop(name: str, database_url: str) -> Iterator[RunningShop]:
    """The sandbox process (one delivery attempt per callback), the shop's database migrated
    by its own command, and the shop served as in production; all stopped afterwards."""
    directory = EXAMPLES / f"{name}_shop"
    environment = {key: value for key, value in os.environ.items()
                   if not key.startswith(("VEMRAT_PAY_", "SHOP_"))}
    environment.update(VEMRAT_PAY_COMMUNITY_KEY=COMMUNITY_KEY, VEMRAT_PAY_SPONSOR_KEY=SPONSOR_KEY,
                       VEMRAT_PAY_SOCKET_TIMEOUT=SOCKET_TIMEOUT, SHOP_DATABASE_URL=database_url)
    with ExitStack() as stack:
        sandbox = subprocess.Popen(
            [sys.executable, "-m", "vemrat_pay_sandbox", "--merchant",
             f"{COMMUNITY_KEY}:{SPONSOR_KEY}", "--retry-delays", ""],
            stdout=subprocess.PIPE, text=True, env=environment)
        stack.callback(stop, sandbox)
        assert sandbox.stdout is not None
        environment["VEMRAT_PAY_BASE_URL"] = sandbox.stdout.readline().strip()
        migrated = subprocess.run([sys.executable, "-m", "shop.migrate"], cwd=directory,
                                  env=environment, capture_output=True, text=True, timeout=300)
        assert migrated.returncode == 0, migrated.stdout + migrated.stderr
        port = free_port()
        shop = subprocess.Popen(shop_command(name, port), cwd=directory, env=environment)
        stack.callback(stop, shop)
        wait_until_listening(shop, port)
        yield RunningShop(name, f"http://127.0.0.1:{port}", environment["VEMRAT_PAY_BASE_URL"],
                          directory, environment)


def stop(process: subprocess.Popen[Any]) -> None:
    process.terminate()
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
