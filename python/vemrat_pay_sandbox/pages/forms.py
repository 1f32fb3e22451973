"""Forms of the dashboard that change state: each carries the server's form token, which the
routes they post to require (web/browser_checks.py)."""

from __future__ import annotations

from html import escape

# The field of every form that carries the form token.
FORM_TOKEN_FIELD = "form_token"


def post_form(action: str, form_token: str, content: str, attributes: str = "") -> str:
    """A form that posts to the path `action` with the form token; `content` and `attributes`
    (more attributes of the form element) are escaped HTML."""
    return (f"<form method=\"post\" action=\"{escape(action)}\"{attributes}>"
            f"<input type=\"hidden\" name=\"{FORM_TOKEN_FIELD}\" value=\"{escape(form_token)}\">"
            f"{content}</form>")
