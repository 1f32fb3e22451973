"""Starting payments and bringing them up to date: the app's API for views and tasks.

    from vemrat_pay_django.payments import start_payment

    payment = start_payment(Decimal("19.99"), currency="CNY",
                            recipient_account="2088000000000001",
                            return_url=reverse("shop:order", args=[order.pk]), request=request)
    if payment.status == payment.Status.PENDING:
        return redirect(payment.pay_url)

The async variants run the same code in a worker thread, so an async view never blocks its
event loop while the service answers.
"""

from __future__ import annotations

import uuid
from decimal import Decimal

from asgiref.sync import sync_to_async
from django.db import IntegrityError
from django.http import HttpRequest

from .addresses import absolute_url, callback_url
from .amounts import check_currency, checked_amount
from .client import get_client
from .models import Payment
from .updates import record_created, record_refused, record_unanswered, refresh


def start_payment(amount: Decimal, *, currency: str, recipient_account: str,
                  pay_mode: str = "split", return_url: str | None = None,
                  request: HttpRequest | None = None,
                  reference: uuid.UUID | None = None) -> Payment:
    """Save a Payment, then ask the service to create its order; the Payment as it ends.

    The Payment is saved first, with a callback URL that names it, so that its callback
    finds it even when the service's answer is lost. Then:

    - the service created the order: `pending`, with `order_id` and `pay_url`;
    - the service refused (RuntimeError): `failed`, the service's message in `fail_reason`;
    - no answer (a timeout or a connection error): `unconfirmed`. The order may exist; it is
      never created a second time, and its callback or `vemrat_pay_reconcile` completes it.

    `amount` is a Decimal with no more places than `currency` (three upper-case letters)
    allows (ValueError and TypeError otherwise, before anything is saved). `return_url` may be a path; it is made
    absolute like the callback URL. With `reference`, the payment already started under
    that reference is returned as it is instead of starting another one.
    """
    check_currency(currency)
    value = checked_amount(amount, currency)
    if pay_mode not in Payment.PayMode.values:
        raise ValueError(f"pay_mode must be one of {', '.join(Payment.PayMode.values)}, not {pay_mode!r}")
    reference = reference or uuid.uuid4()
    existing = Payment.objects.filter(reference=reference).first()
    if existing is not None:
        return existing
    try:
        payment = Payment.objects.create(
            reference=reference, amount=value, currency=currency, pay_mode=pay_mode,
            recipient_account=recipient_account, callback_url=callback_url(reference, request),
            return_url=absolute_url(return_url, request) if return_url else "")
    except IntegrityError:  # the same reference, started at the same time elsewhere
        return Payment.objects.get(reference=reference)
    try:
        result = get_client().create_payment(
            float(value), currency, recipient_account, payment.callback_url, pay_mode,
            payment.return_url or None)
    except RuntimeError as refused:
        record_refused(payment, str(refused))
    except OSError:
        record_unanswered(payment)
    else:
        record_created(payment, result)
    return payment


def refresh_payment(payment: Payment) -> Payment:
    """Ask the service for the state of the payment's order and store it; `payment`, reloaded.

    A payment whose order id never arrived is looked up under the order id of its last
    verified callback, if one came; without either it is returned unchanged. The service's
    errors reach the caller: RuntimeError for an answer that is an error (or is about another
    order), OSError (a timeout, a connection error) for none, `updates.OrderMismatch` for
    an order that is not this payment's.
    """
    refresh(payment)
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
