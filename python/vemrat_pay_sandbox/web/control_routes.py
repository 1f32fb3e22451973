"""The JSON control API for scripts and tests.

    GET    /sandbox/orders                      every order's internal record
    GET    /sandbox/orders/<order_id>           one record with its callback deliveries
    POST   /sandbox/orders/<order_id>/<action>  pay, fail, settle, refund or expire
    POST   /sandbox/orders/<order_id>/resend    deliver the latest callback again
    GET    /sandbox/faults                      the fault rules in force
    POST   /sandbox/faults                      add a rule (see faults.rules)
    DELETE /sandbox/faults                      remove every rule
    DELETE /sandbox/faults/<id>                 remove one rule
"""

from __future__ import annotations

import re
from typing import TYPE_CHECKING

from ..protocol import Rejected
from .routing import route

if TYPE_CHECKING:
    from .handler import SandboxHandler


def orders(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer_json(200, {"data": exchange.service.records()})


def order(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer_json(200, {"data": exchange.service.record(match["order_id"])})


def order_action(exchange: SandboxHandler, match: re.Match[str]) -> None:
    service = exchange.service
    order_id, action = match["order_id"], match["action"]
    options = exchange.json_body({})
    if not isinstance(options, dict):
        raise Rejected(400, "request body must be a JSON object")
    if action == "resend":
        exchange.answer_json(200, {"data": service.resend(order_id)})
        return
    settle_amount = options.get("amount")
    reason = options.get("reason", "")
    if settle_amount is not None and not isinstance(settle_amount, str):
        raise Rejected(400, "amount must be a string such as \"10.00\"")
    if not isinstance(reason, str):
        raise Rejected(400, "reason must be a string")
    service.apply(order_id, action, reason=reason, settle_amount=settle_amount)
    exchange.answer_json(200, {"data": service.record(order_id)})


def faults(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer_json(200, {"data": exchange.service.faults.listed()})


def add_fault(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.answer_json(200, {"data": exchange.service.faults.add(exchange.json_body(None))})


def clear_faults(exchange: SandboxHandler, match: re.Match[str]) -> None:
    exchange.service.faults.clear()
    exchange.answer_json(200, {"data": []})


def remove_fault(exchange: SandboxHandler, match: re.Match[str]) -> None:
    if not exchange.service.faults.remove(int(match["rule_id"])):
        raise Rejected(404, "no fault rule with this id")
    exchange.answer_json(200, {"data": exchange.service.faults.listed()})


ROUTES = [route("GET", r"/sandbox/orders", orders),
          route("GET", r"/sandbox/orders/(?P<order_id>[^/]+)", order),
          route("POST", r"/sandbox/orders/(?P<order_id>[^/]+)/(?P<action>[^/]+)", order_action),
          route("GET", r"/sandbox/faults", faults),
          route("POST", r"/sandbox/faults", add_fault),
          route("DELETE", r"/sandbox/faults", clear_faults),
          route("DELETE", r"/sandbox/faults/(?P<rule_id>[0-9]{1,9})", remove_fault)]
