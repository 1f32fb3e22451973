"""Signals sent once per transition of a payment, after the transaction that made it commits.

Each is sent with `sender=Payment` and `payment=` the updated Payment:

    from django.dispatch import receiver
    from vemrat_pay_django.signals import payment_paid

    @receiver(payment_paid)
    def ship(sender, payment, **kwargs):
        ...

`payment_held_for_review` is sent (also after the commit) when an order is offered to a
payment that may be another payment's: the payment keeps its status, `payment.needs_review`
is true, and a person decides (see the admin).

A transition is announced only by the worker that made it, so a callback that arrives twice,
late, or at the same time as a refresh announces nothing twice. A rolled-back change
announces nothing. Receivers run after the commit, so the transition stands whatever they
do: a receiver that raises is logged (logger "vemrat_pay_django") with its traceback, and
the other receivers still run.
"""

from __future__ import annotations

import logging
from collections.abc import Iterable
from functools import partial

from django.db import transaction
from django.dispatch import Signal

from .models import Payment

logger = logging.getLogger("vemrat_pay_django")

payment_paid = Signal()
payment_failed = Signal()
payment_expired = Signal()
payment_settled = Signal()
payment_refunded = Signal()
payment_held_for_review = Signal()

BY_TRANSITION: dict[str, Signal] = {
    "paid": payment_paid,
    "failed": payment_failed,
    "expired": payment_expired,
    "settled": payment_settled,
    "refunded": payment_refunded,
}


def announce_on_commit(payment: Payment, transitions: Iterable[str]) -> None:
    """Send the signal of each transition once the current transaction commits."""
    for name in transitions:
        transaction.on_commit(partial(announce, name, payment))


def announce(transition: str, payment: Payment) -> None:
    signal = BY_TRANSITION[transition]
    for receiver, result in signal.send_robust(sender=Payment, payment=payment):
        if isinstance(result, Exception):
            logger.error("receiver %r of payment_%s failed for payment %s", receiver, transition,
                         payment.reference, exc_info=result)


def announce_held(payment: Payment) -> None:
    logger.warning("payment %s is held for review: %s", payment.reference, payment.note)
    for receiver, result in payment_held_for_review.send_robust(sender=Payment, payment=payment):
        if isinstance(result, Exception):
            logger.error("receiver %r of payment_held_for_review failed for payment %s",
                         receiver, payment.reference, exc_info=result)
