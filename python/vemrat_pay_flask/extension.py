"""The Flask extension: the payments service of an application, its blueprint, CLI and signals.

    payments = Payments(PaymentsConfig.from_mapping(app.config), engine)
    VemratPay(app, payments)          # or, in an app factory: vemrat_pay.init_app(app, payments)

registers the callback blueprint under `payments.callback_prefix` ("/vemrat-pay"), the
`flask vemrat-pay` commands, and sends the signals of `vemrat_pay_flask.signals` with the
application as sender.
"""

from __future__ import annotations

import logging
import uuid
from decimal import Decimal
from typing import Any

from flask import Flask, current_app, has_request_context, request
from vemrat_pay_sqlalchemy.models import Payment
from vemrat_pay_ledger.ledger import Refreshed
from vemrat_pay_sqlalchemy.service import Payments

from .signals import BY_TRANSITION

EXTENSION_NAME = "vemrat_pay"
logger = logging.getLogger("vemrat_pay")


class VemratPay:
    def __init__(self, app: Flask | None = None, payments: Payments | None = None) -> None:
        self.payments = payments
        if app is not None:
            self.init_app(app, payments)

    def init_app(self, app: Flask, payments: Payments | None = None) -> None:
        payments = payments or self.payments
        if payments is None:
            raise TypeError("VemratPay needs the application's Payments service")
        from .blueprint import blueprint
        from .cli import command_group

        app.extensions[EXTENSION_NAME] = payments
        app.register_blueprint(blueprint, url_prefix=payments.callback_prefix)
        app.cli.add_command(command_group)
        for transition in BY_TRANSITION:
            payments.events.connect(transition, SignalSender(app, transition))


class SignalSender:
    """Sends a transition's blinker signal with `app` as sender; a receiver that raises is
    logged and the others still run."""

    def __init__(self, app: Flask, transition: str) -> None:
        self.app = app
        self.transition = transition

    def __call__(self, payment: Payment) -> None:
        signal = BY_TRANSITION[self.transition]
        for receiver in signal.receivers_for(self.app):
            try:
                receiver(self.app, payment=payment)
            except Exception:
                logger.exception("receiver %r of payment %s failed for payment %s", receiver,
                                 self.transition, payment.reference)

    def __repr__(self) -> str:
        return f"<signal {self.transition} of {self.app.name}>"


def current_payments() -> Payments:
    """The payments service of the current application."""
    try:
        payments: Payments = current_app.extensions[EXTENSION_NAME]
    except KeyError:
        raise RuntimeError("vemrat_pay_flask.VemratPay is not set up on this application") from None
    return payments


def request_origin() -> str | None:
    return request.host_url if has_request_context() else None


def start_payment(amount: Decimal, *, currency: str, recipient_account: str,
                  pay_mode: str = "split", return_url: str | None = None,
                  reference: uuid.UUID | None = None) -> Payment:
    """`Payments.start_payment` of the current application; inside a request, URLs given as
    paths (and the callback URL, without VEMRAT_PAY_CALLBACK_BASE_URL) follow its origin."""
    return current_payments().start_payment(
        amount, currency=currency, recipient_account=recipient_account, pay_mode=pay_mode,
        return_url=return_url, reference=reference, base_url=request_origin())


def refresh_payment(payment: Payment | uuid.UUID) -> Payment:
    return current_payments().refresh_payment(payment)


def get_payment(reference: uuid.UUID | str) -> Payment | None:
    return current_payments().get(reference)


def reconcile(**options: Any) -> list[Refreshed]:
    return current_payments().reconcile(**options)

