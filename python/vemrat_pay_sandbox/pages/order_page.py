"""One order's page on the dashboard: every field (the shop's URLs and reference included),
its buttons, each disabled one with the reason, and every callback delivery with each attempt."""

from __future__ import annotations

import json
import urllib.parse
from html import escape
from typing import Any

from ..states import (CALLBACK_STATUS, DEFAULT_FAIL_REASON, PAY_PENDING, PAY_STATUS_TEXT,
                      REFUND_STATUS_TEXT, SETTLE_DONE, SETTLE_STATUS_TEXT, Conflict, next_state)
from .dashboard import shop_reference
from .document import document
from .forms import post_form
from .live import LIVE_STATUS, live_head
from .paths import DASHBOARD_PATH, ORDER_PATH

BUTTONS = (*CALLBACK_STATUS, "resend")
NO_CALLBACK = "order has no callback to resend"

_STYLE = """
.fields th{color:#666;font-weight:400;padding-right:1.5rem}.fields td{word-break:break-all}
.actions{list-style:none;padding:0}.actions li{margin:.35rem 0}
.actions form{margin:0}.why{color:#666;font-size:.85rem;margin-left:.5rem}
.actions input{width:7rem}.actions input[name=reason]{width:16rem}
.attempts{font-size:.85rem}.state-delivered{color:#237804}.state-failed,.error{color:#a8071a}
.state-dropped,.state-held,.state-scheduled{color:#ad6800}
button{font-size:.85rem;padding:.3rem .8rem}
"""


def order_path(order_id: str) -> str:
    return f"{ORDER_PATH}/{urllib.parse.quote(order_id, safe='')}"


def order_page(order: dict[str, Any], deliveries: list[dict[str, Any]], version: str,
               form_token: str) -> str:
    order_id = escape(order["order_id"])
    content = (f"<p><a href=\"{DASHBOARD_PATH}\" id=\"all-orders\">All orders</a></p>"
               f"<h1>Order <span class=\"order-id\">{order_id}</span></h1>{LIVE_STATUS}"
               f"<div id=\"order\" data-live>{_fields(order)}<h2>Actions</h2>"
               f"{_actions(order, bool(deliveries), form_token)}<h2 id=\"callbacks\">Callbacks</h2>"
               f"{_deliveries(deliveries)}</div>")
    return document(f"Order {order['order_id']}", content, _STYLE, live_head(version))


def _fields(order: dict[str, Any]) -> str:
    mode = order["pay_mode"] + (f" to {order['recipient_account']}"
                                if order["pay_mode"] == "split" else "")
    settle = SETTLE_STATUS_TEXT[order["settle_status"]] + (
        f" ({order['settle_amount']})" if order["settle_status"] == SETTLE_DONE else "")
    fields = [("Merchant", "merchant", order["community_key"]),
              ("Amount", "amount", f"{order['amount']} {order['currency']}"),
              ("Mode", "mode", mode),
              ("Payment", "payment", PAY_STATUS_TEXT[order["pay_status"]]),
              ("Settlement", "settlement", settle),
              ("Refund", "refund", REFUND_STATUS_TEXT[order["refund_status"]])]
    if order["fail_reason"]:
        fields.append(("Reason", "reason", order["fail_reason"]))
    fields.append(("Created", "created", order["created"]))
    # Only a pending order can still expire.
    if order["pay_status"] == PAY_PENDING:
        fields.append(("Expires", "expires", order["expired"]))
    fields += [("Shop reference", "reference", shop_reference(order) or "none"),
               ("Callback URL", "notify-url", order["user_notify_url"]),
               ("Return URL", "return-url", order["return_url"] or "none")]
    rows = "".join(f"<tr><th scope=\"row\">{name}</th><td class=\"{name_class}\">{escape(value)}"
                   "</td></tr>" for name, name_class, value in fields)
    payment_page = f"/pay/{escape(urllib.parse.quote(order['order_id'], safe=''))}"
    return (f"<table class=\"fields\">{rows}<tr><th scope=\"row\">Payment page</th><td>"
            f"<a href=\"{payment_page}\" id=\"payment-page\">{payment_page}</a></td></tr></table>")


def refusal(order: dict[str, Any], action: str, has_callback: bool) -> str:
    """Why the order's state forbids `action` now; "" when it allows it."""
    if action == "resend":
        return "" if has_callback else NO_CALLBACK
    try:
        next_state(order, action)
    except Conflict as conflict:
        return conflict.detail
    return ""


def _actions(order: dict[str, Any], has_callback: bool, form_token: str) -> str:
    path = order_path(order["order_id"])
    items = []
    for action in BUTTONS:
        why = refusal(order, action, has_callback)
        disabled = f" disabled aria-describedby=\"why-{action}\"" if why else ""
        field = ""
        if action == "settle":
            field = (f"<label for=\"settle-amount\">amount</label> <input id=\"settle-amount\" "
                     f"name=\"amount\" inputmode=\"decimal\" value=\"{escape(order['amount'])}\""
                     f"{' disabled' if why else ''}> ")
        elif action == "fail":
            field = (f"<label for=\"fail-reason\">reason</label> <input id=\"fail-reason\" "
                     f"name=\"reason\" value=\"{escape(DEFAULT_FAIL_REASON)}\""
                     f"{' disabled' if why else ''}> ")
        label = "resend callback" if action == "resend" else action
        reason = f"<span class=\"why\" id=\"why-{action}\">{escape(why)}</span>" if why else ""
        button = (f"<button type=\"submit\" name=\"{action}\" class=\"action-{action}\""
                  f"{disabled}>{label}</button>")
        items.append(f"<li>{post_form(f'{path}/{action}', form_token, field + button)}{reason}</li>")
    return "<ul class=\"actions\">" + "".join(items) + "</ul>"


def _deliveries(deliveries: list[dict[str, Any]]) -> str:
    if not deliveries:
        return "<p class=\"note\">No callbacks yet.</p>"
    rows = []
    for delivery in deliveries:
        status = json.loads(delivery["body"]).get("status", "")
        head = (f"<td>{escape(status)} ({escape(delivery['cause'])})</td>"
                f"<td class=\"state-{escape(delivery['state'])}\">{escape(delivery['state'])}</td>")
        for attempt in delivery["attempts"] or [None]:
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
    return ("<table class=\"attempts\"><tr><th scope=\"col\">Callback</th><th scope=\"col\">State"
            "</th><th scope=\"col\">Time</th><th scope=\"col\">URL</th><th scope=\"col\">Answer"
            "</th><th scope=\"col\">Attempt</th></tr>" + "".join(rows) + "</table>")
