"""The developer's dashboard at /sandbox/: every order per merchant, newest first, with its
callback deliveries and buttons that drive it, and the fault rules in force.

Plain HTML forms, no JavaScript; every value from an order or a rule is escaped. Every
form carries the server's form token, which the routes it posts to require.
"""

from __future__ import annotations

import json
import urllib.parse
from collections.abc import Mapping
from html import escape
from typing import Any

from ..states import (CALLBACK_STATUS, PAY_STATUS_TEXT, REFUND_STATUS_TEXT, SETTLE_STATUS_TEXT,
                      Conflict, next_state)
from .document import document

DASHBOARD_PATH = "/sandbox/"
ACTIONS_PATH = "/sandbox/dashboard/orders"
CLEAR_FAULTS_PATH = "/sandbox/dashboard/faults/clear"
BUTTONS = (*CALLBACK_STATUS, "resend")
# The field of every form that carries the form token.
FORM_TOKEN_FIELD = "form_token"

_STYLE = """
.order{border:1px solid #ddd;border-radius:.4rem;padding:.3rem .8rem;margin:.8rem 0}
.order h3{font-size:1rem;margin:.4rem 0}.order table{margin:.3rem 0}
.fields td:first-child{color:#666}.attempts{font-size:.85rem}
.state-delivered{color:#237804}.state-failed,.error{color:#a8071a}
.state-dropped,.state-held,.state-scheduled{color:#ad6800}
button{font-size:.85rem;padding:.3rem .8rem}
"""


def dashboard_page(base_url: str, merchants: list[str], orders: list[dict[str, Any]],
                   deliveries: Mapping[str, list[dict[str, Any]]],
                   rules: list[dict[str, Any]], form_token: str) -> str:
    """The whole dashboard. `orders` oldest first; `deliveries` by order id."""
    by_merchant: dict[str, list[dict[str, Any]]] = {merchant: [] for merchant in merchants}
    for order in reversed(orders):
        by_merchant.setdefault(order["community_key"], []).append(order)
    sections = "".join(_merchant_section(merchant, listed, deliveries, form_token)
                       for merchant, listed in by_merchant.items())
    content = (f"<h1>Vemrat sandbox</h1><p class=\"note\">Service at {escape(base_url)}. "
               f"<a id=\"refresh\" href=\"{DASHBOARD_PATH}\">Refresh</a></p>"
               f"{_rules_section(rules, form_token)}{sections}")
    return document("Vemrat sandbox dashboard", content, _STYLE)


def post_form(action: str, form_token: str, content: str) -> str:
    """A form that posts to the path `action` with the form token; `content` is escaped HTML."""
    return (f"<form method=\"post\" action=\"{escape(action)}\">"
            f"<input type=\"hidden\" name=\"{FORM_TOKEN_FIELD}\" value=\"{escape(form_token)}\">"
            f"{content}</form>")


def _rules_section(rules: list[dict[str, Any]], form_token: str) -> str:
    if not rules:
        return ("<h2>Fault rules</h2><p id=\"no-faults\" class=\"note\">No fault rules in force. "
                "Add one with POST /sandbox/faults, for example "
                "{&quot;endpoint&quot;: &quot;payment&quot;, &quot;fault&quot;: "
                "&quot;error&quot;, &quot;status&quot;: 503}.</p>")
    rows = "".join(
        f"<tr><td>{escape(str(rule['id']))}</td><td>{escape(rule['merchant'] or 'every merchant')}"
        f"</td><td>{escape(rule['endpoint'])}</td><td>{escape(rule['fault'])}</td>"
        f"<td>{escape(_options(rule))}</td><td>{escape(str(rule['count']))}</td></tr>"
        for rule in rules)
    return ("<h2>Fault rules</h2><table id=\"faults\"><tr><th>Id</th><th>Merchant</th>"
            "<th>Endpoint</th><th>Fault</th><th>Options</th><th>Uses left</th></tr>"
            f"{rows}</table>" + post_form(CLEAR_FAULTS_PATH, form_token,
                                          "<button id=\"clear-faults\" type=\"submit\">"
                                          "Clear all rules</button>"))


def _options(rule: dict[str, Any]) -> str:
    shown = {name: value for name, value in rule.items()
             if name not in ("id", "merchant", "endpoint", "fault", "count")}
    return json.dumps(shown, ensure_ascii=False) if shown else ""


def _merchant_section(merchant: str, orders: list[dict[str, Any]],
                      deliveries: Mapping[str, list[dict[str, Any]]], form_token: str) -> str:
    listed = "".join(_order(order, deliveries.get(order["order_id"], []), form_token)
                     for order in orders)
    return (f"<section class=\"merchant\"><h2>Merchant {escape(merchant)}</h2>"
            + (listed or "<p class=\"note\">No orders yet.</p>") + "</section>")


def _order(order: dict[str, Any], deliveries: list[dict[str, Any]], form_token: str) -> str:
    order_id = order["order_id"]
    mode = order["pay_mode"] + (f" to {order['recipient_account']}"
                                if order["pay_mode"] == "split" else "")
    settle = SETTLE_STATUS_TEXT[order["settle_status"]] + (
        f" ({order['settle_amount']})" if order["settle_status"] else "")
    fields = [("Amount", f"{order['amount']} {order['currency']}"), ("Mode", mode),
              ("Payment", PAY_STATUS_TEXT[order["pay_status"]]), ("Settlement", settle),
              ("Refund", REFUND_STATUS_TEXT[order["refund_status"]]),
              ("Created", order["created"]), ("Expires", order["expired"])]
    if order["fail_reason"]:
        fields.append(("Reason", order["fail_reason"]))
    rows = "".join(f"<tr><td>{escape(name)}</td><td class=\"{escape(name.lower())}\">"
                   f"{escape(value)}</td></tr>" for name, value in fields)
    return (f"<article class=\"order\" id=\"{escape(order_id)}\"><h3>{escape(order_id)}</h3>"
            f"<table class=\"fields\">{rows}</table>"
            f"{_buttons(order, bool(deliveries), form_token)}"
            f"{_deliveries(deliveries)}</article>")


def _buttons(order: dict[str, Any], has_callback: bool, form_token: str) -> str:
    path = f"{ACTIONS_PATH}/{urllib.parse.quote(order['order_id'], safe='')}"
    forms = []
    for action in BUTTONS:
        allowed = has_callback if action == "resend" else _allowed(order, action)
        label = "resend callback" if action == "resend" else action
        forms.append(post_form(f"{path}/{action}", form_token,
                               f"<button type=\"submit\" name=\"{action}\" class=\"action-{action}\""
                               f"{'' if allowed else ' disabled'}>{label}</button>"))
    return "<div class=\"actions\">" + "".join(forms) + "</div>"


def _allowed(order: dict[str, Any], action: str) -> bool:
    try:
        next_state(order, action)
    except Conflict:
        return False
    return True


def _deliveries(deliveries: list[dict[str, Any]]) -> str:
    if not deliveries:
        return "<p class=\"note\">No callbacks yet.</p>"
    rows = []
    for delivery in deliveries:
        status = json.loads(delivery["body"]).get("status", "")
        head = (f"<td>{escape(status)} ({escape(delivery['cause'])})</td>"
                f"<td class=\"state-{escape(delivery['state'])}\">{escape(delivery['state'])}</td>")
        attempts = delivery["attempts"] or [None]
        for attempt in attempts:
            if attempt is None:
                cells = f"<td></td><td>{escape(delivery['url'])}</td><td></td><td></td>"
            else:
                # An HTTP status says it all; without one, the error says what happened.
                outcome = (str(attempt["status"]) if attempt["status"] is not None
                           else attempt["error"])
                cells = (f"<td>{escape(attempt['sent'])}</td><td>{escape(delivery['url'])}</td>"
                         f"<td class=\"{'' if 200 <= (attempt['status'] or 0) < 300 else 'error'}\">"
                         f"{escape(outcome)}</td><td>{attempt['attempt']}</td>")
            rows.append(f"<tr>{head}{cells}</tr>")
            head = "<td></td><td></td>"
    return ("<table class=\"attempts\"><tr><th>Callback</th><th>State</th><th>Time</th>"
            "<th>URL</th><th>Answer</th><th>Attempt</th></tr>" + "".join(rows) + "</table>")
