"""The payer's pages: an order's payment page and the Pay and Fail buttons on it.

    GET  /pay/<order_id>              payment page (buttons "pay", "fail")
    POST /pay/<order_id>/pay | /fail  payer's choice: 303 to return_url or a result page
"""

from __future__ import annotations

import re
from typing import TYPE_CHECKING

from .. import pages
from ..protocol import Rejected
from ..states import Conflict
from ..urls import ascii_url
from .routing import ANY_METHOD, route

if TYPE_CHECKING:
    from .handler import SandboxHandler


def payment_page(exchange: SandboxHandler, match: re.Match[str]) -> None:
    order = exchange.service.store.order(match["order_id"])
    if order is None:
        exchange.answer_html(404, pages.message_page("Unknown order", "There is no such order."))
    else:
        exchange.answer_html(200, pages.payment_page(order))


def payers_choice(exchange: SandboxHandler, match: re.Match[str]) -> None:
    try:
        order = exchange.service.apply(match["order_id"], match["action"])
    except Rejected as rejected:
        exchange.answer_html(rejected.status, pages.message_page("Unknown order", rejected.detail))
        return
    except Conflict as conflict:
        exchange.answer_html(409, pages.message_page("Order not payable", conflict.detail))
        return
    if order["return_url"]:
        exchange.answer(303, "text/plain; charset=utf-8", b"",
                        {"Location": ascii_url(order["return_url"])})
    else:
        exchange.answer_html(200, pages.result_page(order))


def no_such_page(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer_html(404, pages.message_page("Not found", "There is no such page."))


ROUTES = [route("GET", r"/pay/(?P<order_id>[^/]+)", payment_page),
          route("POST", r"/pay/(?P<order_id>[^/]+)/(?P<action>pay|fail)", payers_choice),
          route(ANY_METHOD, r"/pay/.*", no_such_page)]
