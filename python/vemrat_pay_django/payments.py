"""Starting payments and bringing them up to date: the app's API for views and tasks.

    from vemrat_pay_django.payments import start_payment

    payment = start_payment(Decimal("19.99"), currency="CNY",
                            recipient_account="2088000000000001",
                            return_url=reverse("shop:order", args=[order.pk]),
                            request=request, reference=form.cleaned_data["reference"])
    if payment.status == payment.Status.PENDING:
        return redirect(payment.pay_url)
    # unconfirmed: a page that says the payment is being checked; failed: a new reference

The decisions are the ledger's (`vemrat_pay_ledger`); this module saves and loads through the
ORM. The async variants run the same code in a worker thread, so an async view never blocks
its event loop while the service answers.
"""

from __future__ import annotations

import uuid
from decimal import Decimal

from asgiref.sync import sync_to_async
from django.http import HttpRequest
from vemrat_pay_ledger.storage import NewPayment

from .addresses import absolute_url, callback_url
from .ledger import get_ledger
from .models import Payment
from .updates import OrderMismatch, ReferenceConflict

__all__ = ["OrderMismatch", "ReferenceConflict", "astart_payment", "arefresh_payment",
           "refresh_payment", "start_payment"]


def start_payment(amount: Decimal, *, currency: str, recipient_account: str,
                  pay_mode: str = "split", return_url: str | None = None,
                  request: HttpRequest | None = None,
                  reference: uuid.UUID | None = None) -> Payment:
    """Save a Payment, then ask the service to create its order; the Payment as it ends.

    The Payment is saved first, with a callback URL that names it, so that its callback
    finds it even when the service's answer is lost. Then:

    - the service created the order: `pending`, with `order_id` and `pay_url`;
    - the service itself refused: `failed`, its message in `fail_reason`;
    - anything else (a 5xx or a proxy's page, a garbled or cut-short answer, a timeout, a
      connection error): `unconfirmed`. The order may exist; it is never created a second
      time, and its callback or `vemrat_pay_reconcile` completes it.

    Nothing is raised but argument errors (before anything is saved) and ReferenceConflict:
    `reference` is an idempotency key, and a payment already started under it is returned as
    it is, unless the amount, currency, recipient, pay mode or return URL differ.
    """
    ledger = get_ledger()
    value = ledger.check_arguments(amount, currency, recipient_account, pay_mode)
    reference = reference or uuid.uuid4()
    new = NewPayment(reference=reference, amount=value, currency=currency, pay_mode=pay_mode,
                     recipient_account=recipient_account,
                     callback_url=callback_url(reference, request),
                     return_url=absolute_url(return_url, request) if return_url else "")
    ledger.start(new)
    return Payment.objects.get(reference=reference)


def refresh_payment(payment: Payment) -> Payment:
    """Ask the service for the state of the payment's order and store it; `payment`, reloaded.

    A payment whose order id never arrived is looked up under the order it is held for, or
    that of its last verified callback; it takes that order only on unambiguous evidence
    (otherwise it is held for review). Without either it is returned unchanged. The
    service's errors reach the caller: RuntimeError for an answer that is an error (or is
    about another order), OSError or http.client.HTTPException for none or a spoiled one,
    `OrderMismatch` for an order that is not this payment's.
    """
    get_ledger().refresh(payment.reference)
    payment.refresh_from_db()
    return payment


async def astart_payment(amount: Decimal, *, currency: str, recipient_account: str,
                         pay_mode: str = "split", return_url: str | None = None,
                         request: HttpRequest | None = None,
                         reference: uuid.UUID | None = None) -> Payment:
    """`start_payment` for async code."""
    return await sync_to_async(start_payment)(
        amount, currency=currency, recipient_account=recipient_account, pay_mode=pay_mode,
        return_url=return_url, request=request, reference=reference)


async def arefresh_payment(payment: Payment) -> Payment:
    """`refresh_payment` for async code."""
    return await sync_to_async(refresh_payment)(payment)
