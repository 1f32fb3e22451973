"""The callback endpoint as a blueprint: POST <url_prefix>/callback/<reference>.

It reads the raw body and the signature header and answers exactly as the Django app's view
does (200, 400, 404 or 503; see `vemrat_pay_sqlalchemy.service.CallbackAnswer`). It is
authenticated by the signature: exempt it from CSRF protection (Flask-WTF:
`csrf.exempt(vemrat_pay_flask.blueprint)`).
"""

from __future__ import annotations

from flask import Blueprint, Response, request

from .extension import current_payments

blueprint = Blueprint("vemrat_pay", __name__)


@blueprint.post("/callback/<reference>")
def callback(reference: str) -> Response:
    payments = current_payments()
    answer = payments.handle_callback(reference, request.get_data(cache=False),
                                      request.headers.get(payments.config.signature_header, ""))
    return Response(answer.text, status=answer.status, content_type="text/plain; charset=utf-8")
