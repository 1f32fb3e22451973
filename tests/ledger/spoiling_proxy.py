"""A reverse proxy on 127.0.0.1 in front of the sandbox that spoils answers on the way back.

Every request is forwarded to the sandbox, which carries it out (an order is stored); the
answer of the next requests to a path may then be replaced, one rule use per request:

    "502", "504"   a proxy's HTML error page with that status
    "403"          a proxy's HTML refusal page
    "refusal"      the service's own refusal envelope: 400 {"detail": "..."}
    "garbled"      200 with the JSON body cut in half (Content-Length matching)
    "cut"          200 announcing more body than is sent, then the connection closed
    "bad status"   a status line that is not HTTP
    "long line"    a header line longer than http.client reads
"""

from __future__ import annotations

import http.client
import io
import socket
import socketserver
import threading
import urllib.parse
from types import TracebackType

SPOILERS = ("502", "504", "403", "refusal", "garbled", "cut", "bad status", "long line")
CREATE_PATH = "/alipayment/sponsor/pay/"
QUERY_PATH = "/alipayment/sponsor/order-status/"


class SpoilingProxy:
    def __init__(self, upstream: str) -> None:
        self.upstream = urllib.parse.urlsplit(upstream)
        self._rules: list[tuple[str, str]] = []  # (path, spoiler)
        self._lock = threading.Lock()
        proxy = self

        class Handler(socketserver.StreamRequestHandler):
            def handle(self) -> None:
                proxy.serve(self.rfile, self.connection)

        self._server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.base_url = f"http://127.0.0.1:{self._server.server_address[1]}"
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def spoil(self, path: str, spoiler: str, count: int = 1) -> None:
        assert spoiler in SPOILERS, spoiler
        with self._lock:
            self._rules.extend([(path, spoiler)] * count)

    def clear(self) -> None:
        with self._lock:
            self._rules.clear()

    def _take(self, path: str) -> str | None:
        with self._lock:
            for index, (prefix, spoiler) in enumerate(self._rules):
                if path.startswith(prefix):
                    del self._rules[index]
                    return spoiler
        return None

    def serve(self, rfile: object, connection: socket.socket) -> None:
        assert isinstance(rfile, io.BufferedIOBase)
        request_line = rfile.readline().decode("latin-1").strip()
        if not request_line:
            return
        method, target, _ = request_line.split(" ", 2)
        headers: dict[str, str] = {}
        while (line := rfile.readline().decode("latin-1").strip()):
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        body = rfile.read(int(headers.get("content-length", "0")))
        upstream = http.client.HTTPConnection(self.upstream.hostname or "127.0.0.1",
                                              self.upstream.port, timeout=30)
        forwarded = {"Content-Type": headers["content-type"]} if "content-type" in headers else {}
        try:
            upstream.request(method, target, body=body if method == "POST" else None,
                             headers=forwarded)
            answer = upstream.getresponse()
            status, content = answer.status, answer.read()
        except (http.client.HTTPException, OSError):
            return  # the service closed without an answer: so does the proxy
        finally:
            upstream.close()
        connection.sendall(spoiled(self._take(target), status, content))

    def __enter__(self) -> SpoilingProxy:
        self._thread.start()
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()


def spoiled(spoiler: str | None, status: int, content: bytes) -> bytes:
    def answer(code: int, phrase: str, body: bytes, content_type: str = "application/json",
               length: int | None = None) -> bytes:
        head = (f"HTTP/1.1 {code} {phrase}\r\nContent-Type: {content_type}\r\n"
                f"Content-Length: {len(body) if length is None else length}\r\n"
                f"Connection: close\r\n\r\n")
        return head.encode("latin-1") + body

    page = b"<html><body><h1>%s</h1><p>nginx</p></body></html>"
    if spoiler in ("502", "504", "403"):
        assert spoiler is not None
        phrase = {"502": "Bad Gateway", "504": "Gateway Time-out", "403": "Forbidden"}[spoiler]
        return answer(int(spoiler), phrase, page % f"{spoiler} {phrase}".encode(), "text/html")
    if spoiler == "refusal":
        return answer(400, "Bad Request", b'{"detail":"request refused"}')
    if spoiler == "garbled":
        return answer(200, "OK", content[:len(content) // 2])
    if spoiler == "cut":
        return answer(200, "OK", content[:10], length=len(content) + 100)
    if spoiler == "bad status":
        return b"HTPT/1.1 200 OK\r\n\r\n" + content
    if spoiler == "long line":
        return b"HTTP/1.1 200 OK\r\nX-Filler: " + b"x" * 70_000 + b"\r\n\r\n" + content
    return answer(status, http.client.responses.get(status, "Answer"), content)
