"""The frame every sandbox page shares: one HTML document, its own CSS, no external assets."""

from __future__ import annotations

from html import escape

_BASE_STYLE = """
body{font-family:system-ui,sans-serif;padding:0 1rem;color:#222}
h1{font-size:1.4rem}table{border-collapse:collapse;margin:1rem 0}
td,th{padding:.35rem .5rem;border-bottom:1px solid #ddd;text-align:left;vertical-align:top}
form{display:inline-block;margin:0 .3rem .3rem 0}
button{border:0;border-radius:.3rem;cursor:pointer;color:#fff;background:#1677ff}
button:disabled{background:#bbb;cursor:default}.note{color:#666;font-size:.9rem}
a:focus-visible,button:focus-visible,input:focus-visible,select:focus-visible,summary:focus-visible
{outline:3px solid #ffb020;outline-offset:1px}
"""


def document(title: str, content: str, style: str = "", head: str = "") -> str:
    """A whole page: `content` and `head` (more of the head: meta, script) must already be
    escaped HTML; `title` is escaped here."""
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            f"<title>{escape(title)}</title><style>{_BASE_STYLE}{style}</style>{head}</head>"
            f"<body>{content}</body></html>\n")
