"""Merchant URLs turned into plain ASCII before they go on the wire.

A URL may arrive as an IRI (`http://shop.example/订单/42`, `http://例え.jp/`). HTTP
request lines and headers carry ASCII only, so before a URL goes into a `Location` header
or a callback request it is converted as RFC 3987 says: the host through IDNA, every other
character outside ASCII (and spaces and other characters URLs never hold) as the
percent-encoded bytes of its UTF-8 form. Existing percent escapes are kept as they are.
"""

from __future__ import annotations

import re
import urllib.parse

# C0 controls, DEL and the C1 controls: never part of a URL, and CR/LF would split a header.
CONTROL_CHARACTER = re.compile(r"[\x00-\x1f\x7f-\x9f]")
# Reserved characters and the escape sign stay as they are; quote() keeps unreserved ones.
_KEEP = "!#$&'()*+,/:;=?@[]%"


def ascii_url(text: str) -> str:
    """The ASCII form of a URL; raises UnicodeError for a host name IDNA refuses."""
    parts = urllib.parse.urlsplit(text)
    netloc = parts.netloc
    if not netloc.isascii():
        # A host outside ASCII is a name, never an IPv6 literal: its first colon starts the port.
        userinfo, at, hostport = netloc.rpartition("@")
        host, colon, port = hostport.partition(":")
        netloc = (urllib.parse.quote(userinfo, safe=_KEEP) + at
                  + host.encode("idna").decode("ascii") + colon + port)
    return urllib.parse.urlunsplit((parts.scheme, netloc,
                                    *(urllib.parse.quote(part, safe=_KEEP)
                                      for part in (parts.path, parts.query, parts.fragment))))
