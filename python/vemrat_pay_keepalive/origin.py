"""The origin (scheme, host, port) whose connections are kept alive."""

from __future__ import annotations

import dataclasses
import urllib.parse

DEFAULT_PORTS = {"http": 80, "https": 443}


@dataclasses.dataclass(frozen=True)
class Origin:
    scheme: str
    host: str
    port: int

    @classmethod
    def of(cls, url: str) -> Origin | None:
        """The origin of an http or https URL, host in lower case and the port made explicit; None for
        any other URL."""
        parts = urllib.parse.urlsplit(url)
        default_port = DEFAULT_PORTS.get(parts.scheme)
        if default_port is None or not parts.hostname:
            return None
        try:
            port = parts.port
        except ValueError:
            return None
        return cls(parts.scheme, parts.hostname, default_port if port is None else port)

    def __str__(self) -> str:
        return f"{self.scheme}://{self.host}:{self.port}"
