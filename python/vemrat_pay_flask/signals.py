"""Blinker signals sent once per transition of a payment, after the transaction commits
(and `payment_held` once when a payment is newly held for review).

Each is sent with the application as sender and `payment=` the Payment:

    from vemrat_pay_flask.signals import payment_paid

    @payment_paid.connect_via(app)        # or .connect for every application
    def ship(sender, payment, **extra): ...

A receiver that raises is logged (logger "vemrat_pay") and the others still run.
"""

from __future__ import annotations

from blinker import Namespace, NamedSignal

signals = Namespace()

payment_paid: NamedSignal = signals.signal("vemrat-pay-payment-paid")
payment_failed: NamedSignal = signals.signal("vemrat-pay-payment-failed")
payment_expired: NamedSignal = signals.signal("vemrat-pay-payment-expired")
payment_settled: NamedSignal = signals.signal("vemrat-pay-payment-settled")
payment_refunded: NamedSignal = signals.signal("vemrat-pay-payment-refunded")
# An order offered to a payment that only a person can assign (see the payment's note).
payment_held: NamedSignal = signals.signal("vemrat-pay-payment-held")

BY_TRANSITION: dict[str, NamedSignal] = {
    "paid": payment_paid,
    "failed": payment_failed,
    "expired": payment_expired,
    "settled": payment_settled,
    "refunded": payment_refunded,
    "held": payment_held,
}
