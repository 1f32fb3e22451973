"""A live Django server, a live sandbox and the keys that join them, for the shop's tests."""

import json
import os
import socket
import tempfile
import threading
import urllib.error
import urllib.request
from pathlib import Path
from typing import Any
from unittest import mock

from django.test import LiveServerTestCase, override_settings
from django.urls import reverse
from vemrat_pay_sandbox import Sandbox

from shop.models import Order
from shop.payments import SIGNATURE_HEADER

COMMUNITY_KEY = "test-community"
SPONSOR_KEY = "test-sponsor"


def write_key_file(directory: str, community_key: str, sponsor_key: str) -> str:
    Path(directory, "auth_key.py").write_text(
        f'COMMUNITY_KEY = "{community_key}"\nSPONSOR_KEY = "{sponsor_key}"\n', encoding="utf-8")
    return directory


def http(method: str, url: str, body: bytes | None = None,
         headers: dict[str, str] | None = None) -> tuple[int, bytes]:
    """One request with no redirects followed; any status is returned, never raised."""
    request = urllib.request.Request(url, data=body, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        with error:
            return error.code, error.read()


class ShopLiveServerTestCase(LiveServerTestCase):
    """The shop on a real server, so that the sandbox can deliver callbacks to it."""

    host = "127.0.0.1"
    sandbox: Sandbox

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        working_space = cls.enterClassContext(tempfile.TemporaryDirectory())
        write_key_file(working_space, COMMUNITY_KEY, SPONSOR_KEY)
        cls.enterClassContext(override_settings(WORKING_SPACE=working_space))
        cls.sandbox = cls.enterClassContext(Sandbox(merchants={COMMUNITY_KEY: SPONSOR_KEY}))
        cls.enterClassContext(mock.patch.dict(os.environ,
                                              {"VEMRAT_PAY_BASE_URL": cls.sandbox.base_url}))

    def setUp(self) -> None:
        # Absolute URLs built by the views must point at the live server.
        self.client.defaults["HTTP_HOST"] = self.live_server_url.removeprefix("http://")

    def checkout(self, amount: str = "19.99", **fields: str) -> Order:
        response = self.client.post(reverse("shop:checkout"), {
            "amount": amount, "currency": "CNY", "recipient": "2088000000000001", **fields})
        self.assertEqual(response.status_code, 302, response.content)
        order = Order.objects.get(pay_url=response["Location"])
        return order

    def control(self, order_id: str, action: str, **options: str) -> dict[str, Any]:
        """Drives the order through the sandbox's control API; the sandbox's record once the
        callbacks it caused have been delivered."""
        status, body = http("POST", f"{self.sandbox.base_url}/sandbox/orders/{order_id}/{action}",
                            json.dumps(options).encode("utf-8"),
                            {"Content-Type": "application/json"})
        self.assertEqual(status, 200, body)
        self.sandbox.wait_for_callbacks()
        return self.sandbox.order(order_id)

    def post_callback(self, body: bytes, signature: str | None) -> int:
        headers = {"Content-Type": "application/json"}
        if signature is not None:
            headers[SIGNATURE_HEADER] = signature
        status, _ = http("POST", self.live_server_url + reverse("shop:callback"), body, headers)
        return status


class SilentServer:
    """Accepts connections and never answers them: a payment service that hangs."""

    def __init__(self) -> None:
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(0.05)
        self.connections: list[socket.socket] = []
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self.base_url = f"http://127.0.0.1:{self._listener.getsockname()[1]}"

    def _accept(self) -> None:
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except TimeoutError:
                continue
            self.connections.append(connection)

    def __enter__(self) -> "SilentServer":
        self._thread.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stopping.set()
        self._thread.join()
        for connection in self.connections:
            connection.close()
        self._listener.close()
