"""An example Flask shop that takes payments through vemrat_pay_flask.

Everything about payments (the model, the callback endpoint, refreshing from the service,
signals, the reconcile command) is the integration's; what is here is this shop's own: the
checkout form, the order page, and the receipt issued when a payment is paid.
"""

from __future__ import annotations

import os
import uuid
from decimal import Decimal, InvalidOperation
from pathlib import Path
from typing import Any

from flask import Flask, abort, redirect, render_template, request
from sqlalchemy import create_engine
from vemrat_pay_flask import VemratPay, get_payment, refresh_payment, start_payment
from vemrat_pay_flask.signals import payment_paid
from vemrat_pay_ledger.ledger import OrderMismatch, ReferenceConflict
from vemrat_pay_sqlalchemy import Payment, Payments, PaymentsConfig
from werkzeug.wrappers import Response

from .receipts import Receipts

HERE = Path(__file__).resolve().parent.parent


def create_app(test_config: dict[str, Any] | None = None) -> Flask:
    app = Flask(__name__)
    # VEMRAT_PAY_COMMUNITY_KEY, VEMRAT_PAY_SPONSOR_KEY, ... and SHOP_DATABASE_URL from the
    # environment: the keys never live in the code or the repository.
    app.config.from_mapping(VEMRAT_PAY_SOCKET_TIMEOUT=15,
                            SHOP_DATABASE_URL=f"sqlite:///{HERE / 'shop.sqlite3'}")
    app.config.update({name: value for name, value in os.environ.items()
                       if name.startswith(("VEMRAT_PAY_", "SHOP_"))})
    app.config.update(test_config or {})

    config = PaymentsConfig.from_mapping(app.config)
    config.apply_socket_timeout()
    engine = create_engine(app.config["SHOP_DATABASE_URL"])
    VemratPay(app, Payments(config, engine))  # POST /vemrat-pay/callback/<reference>
    receipts = Receipts(engine)

    @payment_paid.connect_via(app)
    def issue_receipt(sender: Flask, payment: Payment, **extra: Any) -> None:
        receipts.issue(payment)

    @app.get("/")
    def checkout_form() -> str:
        return render_template("checkout.html", reference=uuid.uuid4(), error="")

    @app.post("/checkout")
    def checkout() -> Response | tuple[str, int]:
        form = request.form
        try:
            reference = uuid.UUID(form["reference"])
            # The form's reference makes a form posted twice find its payment.
            payment = start_payment(Decimal(form["amount"]), currency=form.get("currency", "CNY").upper(),
                                    recipient_account=form["recipient"],
                                    return_url=f"/orders/{reference}", reference=reference)
        except ReferenceConflict:  # this form was already sent with other details
            return render_template("problem.html", title="Checkout already started",
                                   message="This checkout was already started with other details.",
                                   payment=get_payment(reference), retry=True), 409
        except (KeyError, InvalidOperation, TypeError, ValueError) as error:
            return render_template("checkout.html", reference=uuid.uuid4(), error=str(error)), 400
        if payment.status == "pending":
            return redirect(payment.pay_url, 303)
        if payment.status == "failed":
            return render_template("problem.html", title="Payment not created",
                                   message=payment.fail_reason, payment=payment, retry=True), 502
        if payment.status in ("creating", "unconfirmed"):
            return render_template("problem.html", title="Checking your payment",
                                   message="The payment service did not answer in time. We are "
                                           "checking with it; nothing will be charged twice.",
                                   payment=payment, refresh=True), 504
        return redirect(f"/orders/{payment.reference}", 303)

    @app.get("/orders/<uuid:reference>")
    def order_page(reference: uuid.UUID) -> str:
        payment = get_payment(reference)
        if payment is None:
            abort(404)
        unavailable = ""
        try:  # the payer is back: ask the service rather than wait for the callback
            payment = refresh_payment(payment)
        except (RuntimeError, OSError, OrderMismatch) as error:
            unavailable = f"The payment service cannot tell us right now ({type(error).__name__})."
        return render_template("order.html", payment=payment, unavailable=unavailable,
                               receipt=receipts.of(reference))

    return app
