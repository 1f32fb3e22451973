"""The two requests merchants make, and the fault rules that can spoil their answers.

    POST /alipayment/sponsor/pay/             create a payment (form body)
    GET  /alipayment/sponsor/order-status/    signed order-status query
"""

from __future__ import annotations

import re
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

from ..faults import FaultRule
from ..protocol import Rejected, claimed_merchant
from .routing import route

if TYPE_CHECKING:
    from .handler import SandboxHandler

PAY_PATH = "/alipayment/sponsor/pay/"
ORDER_STATUS_PATH = "/alipayment/sponsor/order-status/"

# What a "malformed" rule answers: a JSON text cut short, and JSON without "data".
MALFORMED_BODIES = {"not_json": b'{"data":{"order_id":"', "no_data": b'{"result":"ok"}'}


def create_payment(exchange: SandboxHandler, match: re.Match[str]) -> None:
    content_type = exchange.headers.get_content_type()
    if exchange.headers.get("Content-Type") and content_type != "application/x-www-form-urlencoded":
        raise Rejected(415, "expected application/x-www-form-urlencoded")
    body = exchange.text_body()
    rule = exchange.service.faults.take("payment", claimed_merchant(body))
    _answer_under(exchange, rule, lambda: exchange.service.create_payment(body))


def order_status(exchange: SandboxHandler, match: re.Match[str]) -> None:
    rule = exchange.service.faults.take("order_status", claimed_merchant(exchange.query))
    _answer_under(exchange, rule, lambda: exchange.service.order_status(exchange.query))


def _answer_under(exchange: SandboxHandler, rule: FaultRule | None,
                  carry_out: Callable[[], dict[str, Any]]) -> None:
    """Answer {"data": carry_out()} or its refusal, unless `rule` spoils the answer."""
    if rule is not None and rule.fault == "error":
        exchange.answer_detail(rule.status, rule.detail)
        return
    if rule is not None and rule.fault == "malformed":
        exchange.answer(200, "application/json; charset=utf-8", MALFORMED_BODIES[rule.body])
        return
    document: dict[str, object]
    try:
        status, document = 200, {"data": carry_out()}
    except Rejected as rejected:
        status, document = rejected.status, {"detail": rejected.detail}
    if rule is not None and rule.fault == "timeout_after_commit":
        exchange.withhold_answer(rule.seconds)
        return
    if rule is not None and rule.fault == "delay":
        exchange.pause(rule.seconds)
    exchange.answer_json(status, document)


ROUTES = [route("POST", re.escape(PAY_PATH), create_payment),
          route("GET", re.escape(ORDER_STATUS_PATH), order_status)]
