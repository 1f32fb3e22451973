"""The payer-facing HTML: the payment page and the result pages."""

from __future__ import annotations

from html import escape
from typing import Any

from ..states import PAY_PENDING, PAY_STATUS_TEXT
from .document import document

_STYLE = """
body{max-width:32rem;margin:3rem auto}
table{width:100%}td:first-child{color:#666;width:40%}
button{font-size:1rem;padding:.6rem 1.4rem}
#pay{background:#1677ff}#fail{background:#d4380d}
"""


def _summary(order: dict[str, Any]) -> str:
    rows = [("Order", order["order_id"]),
            ("Amount", f"{order['amount']} {order['currency']}"),
            ("Pay mode", order["pay_mode"]),
            ("Status", PAY_STATUS_TEXT[order["pay_status"]]),
            ("Expires", order["expired"])]
    if order["pay_mode"] == "split":
        rows.insert(3, ("Recipient", order["recipient_account"]))
    cells = "".join(f"<tr><td>{escape(name)}</td><td id=\"{escape(name.lower().replace(' ', '-'))}\">"
                    f"{escape(value)}</td></tr>" for name, value in rows)
    return f"<table>{cells}</table>"


def payment_page(order: dict[str, Any]) -> str:
    """Order summary with the Pay (id "pay") and Fail (id "fail") buttons while it is pending."""
    order_id = escape(order["order_id"])
    if order["pay_status"] == PAY_PENDING:
        actions = (f"<form method=\"post\" action=\"/pay/{order_id}/pay\">"
                   "<button id=\"pay\" type=\"submit\">Pay</button></form>"
                   f"<form method=\"post\" action=\"/pay/{order_id}/fail\">"
                   "<button id=\"fail\" type=\"submit\">Fail</button></form>"
                   "<p class=\"note\">Sandbox: no money moves. Pay or Fail sends the merchant "
                   "a signed callback.</p>")
    else:
        actions = "<p id=\"result\">This order can no longer be paid.</p>"
    return document("Vemrat sandbox payment",
                    f"<h1>Vemrat sandbox payment</h1>{_summary(order)}{actions}", _STYLE)


def result_page(order: dict[str, Any]) -> str:
    status = PAY_STATUS_TEXT[order["pay_status"]]
    return document(f"Payment {status}",
                    f"<h1 id=\"result\">Payment {escape(status)}</h1>{_summary(order)}", _STYLE)


def message_page(title: str, message: str, back: str = "") -> str:
    """A title and a message; `back`, when given, is the path of a link back."""
    link = f"<p><a id=\"back\" href=\"{escape(back)}\">Back</a></p>" if back else ""
    return document(title, f"<h1>{escape(title)}</h1><p id=\"message\">{escape(message)}</p>{link}",
                    _STYLE)
