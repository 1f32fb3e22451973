"""The dashboard and the forms on it.

    GET  /sandbox/                                          the dashboard
    POST /sandbox/dashboard/orders/<order_id>/<action>      a button: pay, fail, settle,
                                                            refund, expire or resend
    POST /sandbox/dashboard/faults/clear                    remove every fault rule

A button that worked sends the browser back to the order on the dashboard (303); one
the order's state forbids shows why, with a link back. A post without the form token of
this server's pages (another site's form, or a page from before a restart) is refused
with 403 and a link back.
"""

from __future__ import annotations

import re
from typing import TYPE_CHECKING

from ..pages import message_page
from ..pages.dashboard import ACTIONS_PATH, BUTTONS, CLEAR_FAULTS_PATH, DASHBOARD_PATH, dashboard_page
from ..protocol import Rejected
from ..states import Conflict
from .browser_checks import form_token_matches
from .routing import Answer, route

if TYPE_CHECKING:
    from .handler import SandboxHandler


def dashboard(exchange: SandboxHandler, match: re.Match[str]) -> None:
    service = exchange.service
    exchange.answer_html(200, dashboard_page(service.base_url, list(service.merchants),
                                             service.records(),
                                             service.store.deliveries.by_order(),
                                             service.faults.listed(),
                                             exchange.server.form_token))


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
    try:
        if action == "resend":
            exchange.service.resend(order_id)
        else:
            exchange.service.apply(order_id, action)
    except (Rejected, Conflict) as refused:
        status = refused.status if isinstance(refused, Rejected) else 409
        exchange.answer_html(status, message_page(f"Cannot {action} {order_id}", refused.detail,
                                                  DASHBOARD_PATH))
        return
    _back_to(exchange, f"{DASHBOARD_PATH}#{order_id}")


@form
def clear_faults(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.service.faults.clear()
    _back_to(exchange, DASHBOARD_PATH)


def _back_to(exchange: SandboxHandler, location: str) -> None:
    exchange.answer(303, "text/plain; charset=utf-8", b"", {"Location": location})


ROUTES = [route("GET", re.escape(DASHBOARD_PATH), dashboard),
          route("POST", re.escape(ACTIONS_PATH) + rf"/(?P<order_id>[^/]+)/(?P<action>{'|'.join(BUTTONS)})",
                button),
          route("POST", re.escape(CLEAR_FAULTS_PATH), clear_faults)]
