"""The Flask integration's commands for people: a payment held for review is listed, and a
person's decision gives it its order."""

from __future__ import annotations

from decimal import Decimal

from flask import Flask
from sqlalchemy import Engine
from vemrat_pay_flask import VemratPay
from vemrat_pay_sqlalchemy import Payments
from vemrat_pay_sqlalchemy.testing import PaymentSandbox

from conftest import Announced


def test_a_held_payment_is_listed_and_assigned_by_a_person(
        sandbox: PaymentSandbox, payments: Payments, engine: Engine) -> None:
    app = Flask(__name__)
    VemratPay(app, payments)
    announced = Announced(payments)
    sandbox.sandbox.add_fault("timeout_after_commit", "payment", seconds=0, count=2)
    first, second = (payments.start_payment(Decimal("10.00"), currency="CNY",
                                            recipient_account="2088000000000001")
                     for _ in range(2))
    sandbox.pay(first)
    request = sandbox.callback_request(first)
    # Its own order, but the other unconfirmed payment of the same amount could own it too.
    answer = payments.handle_callback(str(first.reference), request.body.encode(),
                                      request.headers["X-Vemrat-Signature"])
    order_id = sandbox.order_id(first)
    assert (answer.status, answer.outcome) == (200, "held")
    assert announced.of(first) == ["held"]

    runner = app.test_cli_runner()
    listed = runner.invoke(args=["vemrat-pay", "held"])
    assert listed.exit_code == 0, listed.output
    lines = listed.output.splitlines()
    assert lines[0].startswith(f"{first.reference} 10.00 CNY order {order_id}: order {order_id} "
                               "may be this payment's or that of 1 other payment(s)")
    assert lines[1:] == ["1 payments held for review"]

    assigned = runner.invoke(args=["vemrat-pay", "assign", str(first.reference)])
    assert assigned.exit_code == 0, assigned.output
    assert assigned.output == f"{first.reference} changed: order id {order_id} learned, unconfirmed -> paid\n"
    assert announced.of(first) == ["held", "paid"] and announced.of(second) == []
    assert runner.invoke(args=["vemrat-pay", "held"]).output == "0 payments held for review\n"

    again = runner.invoke(args=["vemrat-pay", "assign", str(first.reference)])
    assert again.exit_code == 1
    assert f"payment {first.reference} is not held for review" in again.output
