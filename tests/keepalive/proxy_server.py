"""An HTTP proxy on 127.0.0.1 for the tests: it forwards requests for absolute http URLs and
tunnels CONNECT requests, keeps its clients' connections open, and records what they carried."""

from __future__ import annotations

import http.client
import http.server
import select
import socket
import threading
import urllib.parse

from service_fixture import LocalServer

RELAY_IDLE_LIMIT = 30  # seconds a tunnel may stay silent before the proxy drops it


class Proxy(LocalServer):
    def __init__(self) -> None:
        self.connections = 0
        self.forwarded: list[tuple[str, str | None]] = []  # URL, Proxy-Authorization
        self.tunnels: list[tuple[str, str | None]] = []  # host:port, Proxy-Authorization
        self._lock = threading.Lock()
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _handler_for(self))
        server.daemon_threads = True
        super().__init__(server, "proxy")

    def url(self, credentials: str = "") -> str:
        return f"http://{credentials + '@' if credentials else ''}127.0.0.1:{self.port}"

    def _record(self, into: list[tuple[str, str | None]], target: str, authorization: str | None) -> None:
        with self._lock:
            into.append((target, authorization))

    def _accepted(self) -> None:
        with self._lock:
            self.connections += 1


def _handler_for(proxy: Proxy) -> type[http.server.BaseHTTPRequestHandler]:
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        disable_nagle_algorithm = True

        def setup(self) -> None:
            super().setup()
            proxy._accepted()

        def do_CONNECT(self) -> None:
            proxy._record(proxy.tunnels, self.path, self.headers.get("Proxy-Authorization"))
            host, _, port = self.path.rpartition(":")
            with socket.create_connection((host, int(port))) as upstream:
                self.send_response(200, "Connection established")
                self.end_headers()
                relay(self.connection, upstream)
            self.close_connection = True

        def forward(self) -> None:
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else None
            proxy._record(proxy.forwarded, self.path, self.headers.get("Proxy-Authorization"))
            target = urllib.parse.urlsplit(self.path)
            headers = {
                name: value for name, value in self.headers.items()
                if name.lower() not in ("connection", "proxy-connection", "proxy-authorization")
            }
            upstream = http.client.HTTPConnection(target.netloc, timeout=30)
            try:
                upstream.request(self.command, target.path + ("?" + target.query if target.query else ""), body, headers)
                answer = upstream.getresponse()
                data = answer.read()
            finally:
                upstream.close()
            self.send_response(answer.status, answer.reason)
            self.send_header("Content-Type", answer.headers.get("Content-Type", "application/octet-stream"))
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        do_GET = do_POST = forward

        def log_message(self, format: str, *args: object) -> None:
            pass

    return Handler


def relay(client: socket.socket, upstream: socket.socket) -> None:
    """Copies bytes both ways until either side closes (or both stay silent too long)."""
    while True:
        readable, _, _ = select.select([client, upstream], [], [], RELAY_IDLE_LIMIT)
        if not readable:
            return
        for source in readable:
            data = source.recv(65536)
            if not data:
                return
            (upstream if source is client else client).sendall(data)
