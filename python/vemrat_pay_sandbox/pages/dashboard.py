"""The developer's dashboard at /sandbox/: the fault rules, then one row per order, newest
first, filtered by merchant, state and text and paged, with every view a plain link.

Each order's row links to its page (pages/order_page.py) with its callbacks and buttons.
Every value from an order or a rule is escaped; every form that changes state carries the
server's form token.
"""

from __future__ import annotations

import urllib.parse
from collections.abc import Sequence
from dataclasses import replace
from html import escape
from typing import Any

from ..states import PAY_STATUS_TEXT, REFUND_DONE, SETTLE_DONE
from ..store.listing import STATE_CONDITIONS, OrderFilter, OrderPage
from .document import document
from .fault_forms import RULES_STYLE, rules_section
from .listing_query import PAGE_SIZE, ListingQuery, listing_url
from .live import LIVE_STATUS, live_head
from .paths import DASHBOARD_PATH, ORDER_PATH

# Text that does not fit its column ends in an ellipsis and shows whole in the cell's title.
_STYLE = """
#orders table{table-layout:fixed;width:100%;font-size:.85rem;margin:.5rem 0}
#orders td,#orders th{white-space:nowrap;overflow:hidden;text-overflow:ellipsis;padding:.45rem .3rem}
#orders tbody tr:hover{background:#f5f8ff}#orders tbody th{font-weight:400}
#orders .order{font-family:ui-monospace,monospace;font-size:.8rem}
.c-created{width:7.6rem}.c-order{width:13.6rem}.c-merchant{width:6rem}.c-amount{width:6rem}
.c-mode{width:3.3rem}.c-payment{width:4.2rem}.c-settlement{width:6rem}.c-refund{width:4.6rem}
.c-callbacks{width:6.6rem}.c-reference{width:8rem}
.pay-paid,.state-delivered{color:#237804}.pay-failed,.state-failed{color:#a8071a}
.pay-expired{color:#666}.state-dropped,.state-held,.state-scheduled{color:#ad6800}
#filters{display:flex;flex-wrap:wrap;gap:.3rem .9rem;align-items:end;margin:.5rem 0}
#filters label{display:flex;flex-direction:column;font-size:.85rem}
#filters input[type=search]{width:18rem}
#filters button{padding:.35rem .9rem}.pager{display:flex;gap:1rem;align-items:center}
button{font-size:.85rem;padding:.3rem .8rem}
"""

STATE_LABELS = {
    **{text: f"payment {text}" for text in PAY_STATUS_TEXT.values()},
    "settled": "settled", "refunded": "refunded",
    **{state: f"latest callback {state.removeprefix('callback-')}"
       for state in STATE_CONDITIONS if state.startswith("callback-")},
}
assert set(STATE_LABELS) == set(STATE_CONDITIONS)

_COLUMNS = (("created", "Created"), ("order", "Order"), ("merchant", "Merchant"),
            ("amount", "Amount"), ("mode", "Mode"), ("payment", "Payment"),
            ("settlement", "Settlement"), ("refund", "Refund"), ("callbacks", "Callback"),
            ("reference", "Shop reference"), ("notify-url", "Callback URL"))


def dashboard_page(base_url: str, merchants: Sequence[str], view: ListingQuery,
                   listed: OrderPage, rules: list[dict[str, Any]], version: str,
                   form_token: str) -> str:
    """The whole dashboard for one view of the order list."""
    content = (f"<h1>Vemrat sandbox</h1><p class=\"note\">Service at {escape(base_url)}.</p>"
               f"{LIVE_STATUS}{rules_section(rules, merchants, form_token)}"
               "<section aria-labelledby=\"orders-title\"><h2 id=\"orders-title\">Orders</h2>"
               f"{_filters(merchants, view)}{_orders(view, listed)}</section>")
    return document("Vemrat sandbox dashboard", content, RULES_STYLE + _STYLE, live_head(version))


def _filters(merchants: Sequence[str], view: ListingQuery) -> str:
    selected = view.selected

    def options(choices: Sequence[tuple[str, str]], chosen: str | None) -> str:
        return "".join(f"<option value=\"{escape(value)}\""
                       f"{' selected' if value == (chosen or '') else ''}>{escape(text)}</option>"
                       for value, text in choices)

    return (f"<form id=\"filters\" role=\"search\" method=\"get\" action=\"{DASHBOARD_PATH}\">"
            "<label for=\"filter-merchant\">Merchant<select id=\"filter-merchant\" name=\"merchant\">"
            + options([("", "every merchant"), *((name, name) for name in merchants)],
                      selected.merchant)
            + "</select></label><label for=\"filter-state\">State<select id=\"filter-state\" "
            "name=\"state\">" + options([("", "any state"), *STATE_LABELS.items()], selected.state)
            + "</select></label><label for=\"filter-text\">Order id or part of a URL"
            f"<input type=\"search\" id=\"filter-text\" name=\"q\" value=\"{escape(selected.text)}\">"
            "</label><button type=\"submit\" id=\"apply-filters\">Show</button>"
            f"<a href=\"{DASHBOARD_PATH}\" id=\"clear-filters\">All orders</a></form>")


def _orders(view: ListingQuery, listed: OrderPage) -> str:
    pages = max(1, -(-listed.total // PAGE_SIZE))
    page = min(view.page, pages)
    first = (page - 1) * PAGE_SIZE + 1
    if listed.orders:
        summary = (f"Orders {first:,} to {first + len(listed.orders) - 1:,} of {listed.total:,}, "
                   "newest first.")
    else:
        summary = ("No orders match." if view.selected != replace(view.selected, merchant=None,
                                                                  state=None, text="")
                   else "No orders yet.")
    heads = "".join(f"<th scope=\"col\" class=\"c-{name}\">{text}</th>" for name, text in _COLUMNS)
    rows = "".join(_row(order) for order in listed.orders)
    return (f"<div id=\"orders\" data-live><p id=\"orders-summary\" class=\"note\">{summary}</p>"
            f"<table aria-describedby=\"orders-summary\"><thead><tr>{heads}</tr></thead>"
            f"<tbody>{rows}</tbody></table>"
            f"{_pager(view, page, pages)}</div>")


def _pager(view: ListingQuery, page: int, pages: int) -> str:
    def link(number: int, text: str, rel: str) -> str:
        if number == page or not 1 <= number <= pages:
            return f"<span class=\"note\" aria-disabled=\"true\">{text}</span>"
        return (f"<a href=\"{escape(listing_url(view.selected, number))}\" rel=\"{rel}\" "
                f"id=\"page-{rel}\">{text}</a>")

    return ("<nav class=\"pager\" aria-label=\"Pages of orders\">"
            f"{link(1, 'First', 'first')}{link(page - 1, 'Previous', 'prev')}"
            f"<span id=\"page-of\">Page {page:,} of {pages:,}</span>"
            f"{link(page + 1, 'Next', 'next')}{link(pages, 'Last', 'last')}</nav>")


def _row(order: dict[str, Any]) -> str:
    order_id = escape(order["order_id"])
    page = f"{ORDER_PATH}/{escape(urllib.parse.quote(order['order_id'], safe=''))}"
    merchant = escape(order["community_key"])
    merchant_link = escape(listing_url(OrderFilter(merchant=order["community_key"])))
    amount = escape(f"{order['amount']} {order['currency']}")
    mode = escape(order["pay_mode"])
    pay = PAY_STATUS_TEXT[order["pay_status"]]
    settled = (f"settled {escape(order['settle_amount'])}"
               if order["settle_status"] == SETTLE_DONE else "unsettled")
    refund = "refunded" if order["refund_status"] == REFUND_DONE else "none"
    if order["callbacks"]:
        state = escape(order["callback_state"])
        attempts = order["attempts"]
        callbacks = (f"<a href=\"{page}#callbacks\" class=\"state-{state}\" title=\""
                     f"{order['callbacks']} callback(s), {attempts} attempt(s) in all; the latest "
                     f"callback is {state}\">{state} ({attempts})</a>")
    else:
        callbacks = "<span class=\"note\">none yet</span>"
    reference = escape(shop_reference(order))
    notify_url = escape(order["user_notify_url"])
    return (f"<tr id=\"{order_id}\"><td class=\"created\" title=\"{escape(order['created'])}\">"
            f"{escape(_shown_time(order['created']))}</td>"
            f"<th scope=\"row\" class=\"order\"><a href=\"{page}\">{order_id}</a></th>"
            f"<td class=\"merchant\"><a href=\"{merchant_link}\" title=\"Only the orders of "
            f"{merchant}\">{merchant}</a></td>"
            f"<td class=\"amount\" title=\"{amount}\">{amount}</td>"
            f"<td class=\"mode\" title=\"{mode}\">{mode}</td>"
            f"<td class=\"payment pay-{pay}\">{pay}</td><td class=\"settlement\">{settled}</td>"
            f"<td class=\"refund\">{refund}</td><td class=\"callbacks\">{callbacks}</td>"
            f"<td class=\"reference\" title=\"{reference}\">{reference}</td>"
            f"<td class=\"notify-url\" title=\"{notify_url}\">{notify_url}</td></tr>")


def shop_reference(order: dict[str, Any]) -> str:
    """The shop's own reference of the order, as far as its URLs show it: the query of the
    callback URL, or else the last part of its path (where shops name the order), or else the
    same of the return URL."""
    for url in (order["user_notify_url"], order["return_url"]):
        parts = urllib.parse.urlsplit(url)
        segments = [part for part in parts.path.split("/") if part]
        if parts.query or segments:
            return urllib.parse.unquote(parts.query or segments[-1])
    return ""


def _shown_time(iso: str) -> str:
    """Month, day and time (UTC) of a time the service wrote; the whole of it in the title."""
    return iso[5:].replace("T", " ").removesuffix("Z")
