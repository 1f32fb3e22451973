"""What keeps a page in the developer's browser from using the sandbox behind their back.

The sandbox listens on the developer's machine, beside their browser, so any page the
browser shows can send requests to it. Three checks stop such a page:

- DNS rebinding. A page of `evil.example` whose name is made to resolve to 127.0.0.1 may
  read the sandbox's answers as its own, but its requests name `evil.example` in Host.
  A request is served only when its Host is an IP address, `localhost` or a name under
  `.localhost`, the host the sandbox listens on, or a name accepted with `allowed_hosts`
  (`--allow-host NAME`). A request without Host is served too: browsers always send one.
- Cross-origin requests that change state. A form or script of another site can send a
  POST or DELETE (not read its answer). Browsers name the page behind such a request in
  Origin and Sec-Fetch-Site; a request other than GET and HEAD is refused when Origin is
  not the sandbox's own (scheme, host and port) or Sec-Fetch-Site is neither
  "same-origin" nor "none". Scripts and curl send neither header and are served.
- The console's forms also carry a token that only the console's own pages contain;
  a form post without it, or with another server's, is refused.
"""

from __future__ import annotations

import hmac
import ipaddress
import urllib.parse
from collections.abc import Iterable
from email.message import Message

from ..pages.forms import FORM_TOKEN_FIELD
from ..protocol import Rejected

SAFE_METHODS = ("GET", "HEAD")
_SAME_ORIGIN_FETCHES = ("same-origin", "none")
_DEFAULT_PORTS = {"http": 80, "https": 443}


class AcceptedHosts:
    """The host names requests may name in Host: loopback names, IP addresses and `names`."""

    def __init__(self, names: Iterable[str]) -> None:
        self.names = {_normalised(name) for name in names}

    def accepts(self, host: str) -> bool:
        if host == "localhost" or host.endswith(".localhost") or host in self.names:
            return True
        try:
            ipaddress.ip_address(host)
        except ValueError:
            return False
        # An address names no site an attacker could make resolve to the sandbox.
        return True


def check_host(headers: Message, accepted: AcceptedHosts) -> None:
    """Rejected(400) for a missing or malformed Host, Rejected(403) for one not accepted."""
    values = headers.get_all("Host") or []
    if len(values) > 1:
        raise Rejected(400, "a request must have one Host header")
    if not values:
        return
    parsed = _host_and_port(values[0])
    if parsed is None:
        raise Rejected(400, f"malformed Host header: {values[0]!r}")
    if not accepted.accepts(parsed[0]):
        raise Rejected(403, f"refused Host {parsed[0]!r}: this sandbox answers to localhost and "
                            f"IP addresses; start it with --allow-host {parsed[0]} "
                            f"(Sandbox(allowed_hosts=[...])) to reach it by that name")


def check_origin(method: str, headers: Message, scheme: str) -> None:
    """Rejected(403) for a request that changes state and comes from another origin."""
    if method in SAFE_METHODS:
        return
    fetch_site = headers.get("Sec-Fetch-Site")
    if fetch_site is not None and fetch_site.strip().lower() not in _SAME_ORIGIN_FETCHES:
        raise Rejected(403, f"refused a {fetch_site.strip()} request: a request that changes "
                            "the sandbox's state may only come from its own pages")
    origin = headers.get("Origin")
    if origin is None:
        return
    own = _host_and_port(headers.get("Host", ""))
    if own is None or _origin(origin) != (scheme, own[0], own[1] or _DEFAULT_PORTS[scheme]):
        raise Rejected(403, f"refused a request from {origin.strip()!r}: a request that changes "
                            "the sandbox's state may only come from its own pages")


def form_token_matches(form_body: str, token: str) -> bool:
    """Whether the url-encoded form carries `token` in its token field."""
    sent = urllib.parse.parse_qs(form_body).get(FORM_TOKEN_FIELD, [""])[0]
    return hmac.compare_digest(sent.encode("utf-8"), token.encode("utf-8"))


def _host_and_port(value: str) -> tuple[str, int | None] | None:
    """The lower-case host and the port (None when absent) of a Host value; None if malformed."""
    try:
        split = urllib.parse.urlsplit("//" + value.strip())
        port = split.port
    except ValueError:
        return None
    if split.hostname is None or split.username is not None or split.path or split.query \
            or split.fragment:
        return None
    return _normalised(split.hostname), port


def _origin(value: str) -> tuple[str, str, int] | None:
    try:
        split = urllib.parse.urlsplit(value.strip())
        port = split.port
    except ValueError:
        return None
    scheme = split.scheme.lower()
    if scheme not in _DEFAULT_PORTS or split.hostname is None:
        return None  # "null" among others: an opaque origin is never the sandbox's own
    return scheme, _normalised(split.hostname), port or _DEFAULT_PORTS[scheme]


def _normalised(name: str) -> str:
    return name.strip().lower().removesuffix(".")
