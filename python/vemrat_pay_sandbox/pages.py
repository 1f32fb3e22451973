"""The payer-facing HTML: the payment page and the result pages. No external assets."""

from __future__ import annotations

from html import escape

from .states import PAY_STATUS_TEXT, PAY_PENDING

_STYLE = """
body{font-family:system-ui,sans-serif;max-width:32rem;margin:3rem auto;padding:0 1rem;color:#222}
h1{font-size:1.4rem}table{border-collapse:collapse;width:100%;margin:1rem 0}
td{padding:.35rem .5rem;border-bottom:1px solid #ddd}td:first-child{color:#666;width:40%}
form{display:inline-block;margin-right:.5rem}
button{font-size:1rem;padding:.6rem 1.4rem;border:0;border-radius:.3rem;cursor:pointer;color:#fff}
#pay{background:#1677ff}#fail{background:#d4380d}.note{color:#666;font-size:.9rem}
"""


def _document(title: str, content: str) -> str:
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            f"<title>{escape(title)}</title><style>{_STYLE}</style></head>"
            f"<body>{content}</body></html>\n")


def _summary(order: dict) -> str:
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


def payment_page(order: dict) -> str:
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
    return _document("Vemrat sandbox payment",
                     f"<h1>Vemrat sandbox payment</h1>{_summary(order)}{actions}")


def result_page(order: dict) -> str:
    status = PAY_STATUS_TEXT[order["pay_status"]]
    return _document(f"Payment {status}",
                     f"<h1 id=\"result\">Payment {escape(status)}</h1>{_summary(order)}")


def message_page(title: str, message: str) -> str:
    return _document(title, f"<h1>{escape(title)}</h1><p id=\"message\">{escape(message)}</p>")
