"""What the callback view does with a request: verify, record, then ask the service.

A callback is only a hint. Its signature is checked against the raw body; then the event is
recorded; then the payment named by the callback URL is brought up to date from the
service's order-status query, which is authoritative. The callback's own status text is
recorded but never acted upon, so a late, repeated or reordered callback cannot move a
payment back, and the row lock of `updates` makes two at once take turns.
"""

from __future__ import annotations

import logging
import uuid

from django.utils import timezone

from .client import get_client
from .models import CallbackEvent, Payment
from .updates import OrderMismatch, apply_order_status, query

logger = logging.getLogger("vemrat_pay_django")

Outcome = CallbackEvent.Outcome

# Bodies that do not verify are kept only up to this many characters.
REFUSED_BODY_LIMIT = 64 * 1024


def handle_callback(reference: uuid.UUID, body: bytes, signature: str) -> CallbackEvent:
    """Verify, record and act on one callback request; the recorded event."""
    payment = Payment.objects.filter(reference=reference).first()
    try:
        fields = get_client().verify_callback(body.decode("utf-8"), signature)
    except (RuntimeError, UnicodeDecodeError) as error:
        logger.warning("callback for %s refused: %s", reference, error)
        return CallbackEvent.objects.create(
            payment=payment, reference=reference,
            body=storable(body[:REFUSED_BODY_LIMIT].decode("utf-8", "replace")),
            signature=storable(signature[:255]), outcome=Outcome.REFUSED, detail=str(error),
            processed_at=timezone.now())
    event = CallbackEvent.objects.create(
        payment=payment, reference=reference, body=body.decode("utf-8"), signature=signature,
        verified=True, order_id=fields.get("order_id", "")[:128],
        callback_status=fields.get("status", "")[:32])
    outcome, detail = act(event, payment)
    event.outcome = outcome
    event.detail = detail
    event.processed_at = timezone.now()
    event.save(update_fields=["outcome", "detail", "processed_at"])
    return event


def storable(text: str) -> str:
    """`text` with NUL characters replaced: PostgreSQL keeps no NUL in a text column, and a
    body that does not verify may hold anything."""
    return text.replace("\x00", "\ufffd")


def act(event: CallbackEvent, payment: Payment | None) -> tuple[str, str]:
    """Bring the callback's payment up to date; the outcome and what it changed or why not."""
    if payment is None:
        return Outcome.UNKNOWN_PAYMENT, f"no payment has the reference {event.reference}"
    if not event.order_id:
        return Outcome.MISMATCH, "the callback names no order"
    if payment.order_id and payment.order_id != event.order_id:
        return Outcome.MISMATCH, f"order {event.order_id} is not the payment's {payment.order_id}"
    try:
        status = query(event.order_id)
    except (RuntimeError, OSError) as error:
        logger.warning("order %s could not be queried after its callback: %s", event.order_id, error)
        return Outcome.UNAVAILABLE, f"{type(error).__name__}: {error}"
    try:
        applied = apply_order_status(payment, status)
    except OrderMismatch as mismatch:
        logger.warning("callback for %s refused: %s", payment.reference, mismatch)
        return Outcome.MISMATCH, str(mismatch)
    if applied.description:
        return Outcome.CHANGED, applied.description
    return Outcome.UNCHANGED, ""
