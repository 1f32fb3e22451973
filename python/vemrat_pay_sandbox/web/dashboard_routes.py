"""The dashboard's pages and the forms on them.

    GET  /sandbox/?merchant=&state=&q=&page=                the orders, one view of them
    GET  /sandbox/dashboard/orders/<order_id>               one order's page
    POST /sandbox/dashboard/orders/<order_id>/<action>      a button: pay, fail (reason),
                                                            settle (amount), refund, expire
                                                            or resend
    POST /sandbox/dashboard/faults                          add a fault rule from its form
    POST /sandbox/dashboard/faults/<id>/remove              remove one rule
    POST /sandbox/dashboard/faults/clear                    remove every rule
    GET  /sandbox/dashboard/version                         the version of the data shown
    GET  /sandbox/dashboard/live.js                         the script that follows it

A form that worked sends the browser on to the page it changed (303); one the sandbox
refuses shows why, with a link back. A post without the form token of this server's pages
(another site's form, or a page from before a restart) is refused with 403 and a link back.
"""

from __future__ import annotations

import re
import urllib.parse
from typing import TYPE_CHECKING

from ..pages import message_page
from ..pages.dashboard import dashboard_page
from ..pages.listing_query import PAGE_SIZE, read_query
from ..pages.live import live_script
from ..pages.order_page import BUTTONS, order_page, order_path
from ..pages.paths import (CLEAR_FAULTS_PATH, DASHBOARD_PATH, FAULTS_PATH, ORDER_PATH,
                           SCRIPT_PATH, VERSION_PATH)
from ..protocol import Rejected
from ..states import Conflict
from .browser_checks import form_token_matches
from .routing import Answer, route

if TYPE_CHECKING:
    from .handler import SandboxHandler


def dashboard(exchange: SandboxHandler, match: re.Match[str]) -> None:
    service = exchange.service
    try:
        view = read_query(exchange.query, service.merchants)
    except Rejected as rejected:
        _refused(exchange, "Cannot show these orders", rejected.status, rejected.detail)
        return
    version = service.version()
    listed = service.store.listing.page(view.selected, (view.page - 1) * PAGE_SIZE, PAGE_SIZE)
    if not listed.orders and view.page > 1 and listed.total:
        # A page past the last (a bookmark from a busier day): show the last one.
        last = -(-listed.total // PAGE_SIZE)
        listed = service.store.listing.page(view.selected, (last - 1) * PAGE_SIZE, PAGE_SIZE)
    exchange.answer_html(200, dashboard_page(service.base_url, list(service.merchants), view,
                                             listed, service.faults.listed(), version,
                                             exchange.server.form_token))


def order(exchange: SandboxHandler, match: re.Match[str]) -> None:
    service = exchange.service
    version = service.version()
    try:
        found = service.order(match["order_id"])
    except Rejected as rejected:
        _refused(exchange, f"Order {match['order_id']}", rejected.status, rejected.detail)
        return
    exchange.answer_html(200, order_page(found, service.store.deliveries.of_order(found["order_id"]),
                                         version, exchange.server.form_token))


def form(answer: Answer) -> Answer:
    """The route of a form on the dashboard: answered only when the post carries the form token."""
    def checked(exchange: SandboxHandler, match: re.Match[str]) -> None:
        if not form_token_matches(exchange.text_body(), exchange.server.form_token):
            exchange.answer_html(403, message_page(
                "Form refused", "This form did not come from this sandbox's dashboard, or the "
                "sandbox has restarted since the page was loaded. Reload the dashboard and try "
                "again.", DASHBOARD_PATH))
            return
        answer(exchange, match)
    return checked


@form
def button(exchange: SandboxHandler, match: re.Match[str]) -> None:
    order_id, action = match["order_id"], match["action"]
    fields = _form(exchange)
    try:
        if action == "resend":
            exchange.service.resend(order_id)
        else:
            exchange.service.apply(order_id, action, reason=fields.get("reason", "").strip(),
                                   settle_amount=fields.get("amount", "").strip() or None)
    except (Rejected, Conflict) as refused:
        status = refused.status if isinstance(refused, Rejected) else 409
        _refused(exchange, f"Cannot {action} {order_id}", status, refused.detail,
                 order_path(order_id))
        return
    _back_to(exchange, order_path(order_id))


@form
def add_fault(exchange: SandboxHandler, match: re.Match[str]) -> None:
    try:
        exchange.service.faults.add(rule_document(_form(exchange)))
    except Rejected as rejected:
        _refused(exchange, "Cannot add this fault rule", rejected.status, rejected.detail)
        return
    _back_to(exchange, f"{DASHBOARD_PATH}#rules")


@form
def remove_fault(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.service.faults.remove(int(match["rule_id"]))
    _back_to(exchange, f"{DASHBOARD_PATH}#rules")


@form
def clear_faults(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.service.faults.clear()
    _back_to(exchange, f"{DASHBOARD_PATH}#rules")


def version(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer(200, "text/plain; charset=utf-8", exchange.service.version().encode())


def script(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer(200, "text/javascript; charset=utf-8", live_script())


def rule_document(fields: dict[str, str]) -> dict[str, object]:
    """The fault rule a form describes, as the control API takes it: empty fields left out,
    numbers made numbers. A number that does not read as one stays text, so that the rule's
    own check names it."""
    document: dict[str, object] = {name: fields[name].strip() for name in
                                   ("endpoint", "fault", "merchant", "detail", "body")
                                   if fields.get(name, "").strip()}
    for name, kind in (("count", int), ("status", int), ("seconds", float)):
        text = fields.get(name, "").strip()
        if text:
            try:
                document[name] = kind(text)
            except ValueError:
                document[name] = text
    return document


def _form(exchange: SandboxHandler) -> dict[str, str]:
    return dict(urllib.parse.parse_qsl(exchange.text_body(), keep_blank_values=True))


def _refused(exchange: SandboxHandler, title: str, status: int, detail: str,
             back: str = DASHBOARD_PATH) -> None:
    exchange.answer_html(status, message_page(title, detail, back))


def _back_to(exchange: SandboxHandler, location: str) -> None:
    exchange.answer(303, "text/plain; charset=utf-8", b"", {"Location": location})


ROUTES = [route("GET", re.escape(DASHBOARD_PATH), dashboard),
          route("GET", re.escape(ORDER_PATH) + r"/(?P<order_id>[^/]+)", order),
          route("POST", re.escape(ORDER_PATH) + rf"/(?P<order_id>[^/]+)/(?P<action>{'|'.join(BUTTONS)})",
                button),
          route("POST", re.escape(FAULTS_PATH), add_fault),
          route("POST", re.escape(FAULTS_PATH) + r"/(?P<rule_id>[0-9]{1,9})/remove", remove_fault),
          route("POST", re.escape(CLEAR_FAULTS_PATH), clear_faults),
          route("GET", re.escape(VERSION_PATH), version),
          route("GET", re.escape(SCRIPT_PATH), script)]
