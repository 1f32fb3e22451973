"""The query string of the order list: merchant, state, text and page, read from a request
and written into links, so that every view of the list is a link that can be bookmarked."""

from __future__ import annotations

import urllib.parse
from collections.abc import Collection
from dataclasses import dataclass

from ..protocol import Rejected
from ..store.listing import STATE_CONDITIONS, OrderFilter
from .paths import DASHBOARD_PATH

PAGE_SIZE = 50


@dataclass(frozen=True)
class ListingQuery:
    selected: OrderFilter
    page: int = 1


def read_query(query: str, merchants: Collection[str]) -> ListingQuery:
    """The view a query string asks for; empty fields select everything. Rejected(400) for an
    unknown merchant or state or a page that is not a whole number from 1."""
    fields = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    merchant = fields.get("merchant") or None
    if merchant is not None and merchant not in merchants:
        raise Rejected(400, f"unknown merchant: {merchant!r}")
    state = fields.get("state") or None
    if state is not None and state not in STATE_CONDITIONS:
        raise Rejected(400, f"unknown state: {state!r}")
    page_text = fields.get("page") or "1"
    if not (page_text.isascii() and page_text.isdigit() and len(page_text) <= 9) \
            or int(page_text) < 1:
        raise Rejected(400, f"page must be a whole number from 1: {page_text!r}")
    return ListingQuery(OrderFilter(merchant, state, fields.get("q", "").strip()), int(page_text))


def listing_url(selected: OrderFilter, page: int = 1) -> str:
    """The list's path with the query string of this view: only the fields in use."""
    fields = [(name, value) for name, value in (
        ("merchant", selected.merchant or ""), ("state", selected.state or ""),
        ("q", selected.text), ("page", str(page) if page > 1 else "")) if value]
    return DASHBOARD_PATH + ("?" + urllib.parse.urlencode(fields) if fields else "")
