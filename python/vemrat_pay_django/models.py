"""A payment as this shop knows it, and every callback the service sent about one."""

from __future__ import annotations

import uuid

from django.db import models
from vemrat_pay_ledger.callbacks import Outcome as LedgerOutcome
from vemrat_pay_ledger.statuses import FINAL


class Payment(models.Model):
    """One payment started by this shop, and the service's order behind it.

    `status` and the settle and refund state are this app's own, changed only as the ledger
    (`vemrat_pay_ledger`) decides; the `service_*` fields hold the service's answer to the
    last order-status query as it came.
    """

    class Status(models.TextChoices):
        CREATING = "creating"  # saved; the request to the service is under way
        UNCONFIRMED = "unconfirmed"  # the answer may hide a stored order: the service will tell
        PENDING = "pending"  # the order exists and waits for the payer
        PAID = "paid"
        FAILED = "failed"
        EXPIRED = "expired"

    class PayMode(models.TextChoices):
        SPLIT = "split"
        DIRECT = "direct"

    reference = models.UUIDField(default=uuid.uuid4, unique=True, editable=False,
                                 help_text="This shop's id of the payment, also in its callback URL.")
    order_id = models.CharField(max_length=128, unique=True, null=True, blank=True,
                                help_text="The service's order id; empty until it is known.")
    amount = models.DecimalField(max_digits=14, decimal_places=2)
    currency = models.CharField(max_length=3)
    pay_mode = models.CharField(max_length=8, choices=PayMode.choices, default=PayMode.SPLIT)
    recipient_account = models.CharField(max_length=64, blank=True)
    callback_url = models.URLField(max_length=500)
    return_url = models.URLField(max_length=500, blank=True)
    pay_url = models.URLField(max_length=500, blank=True)

    status = models.CharField(max_length=16, choices=Status.choices, default=Status.CREATING,
                              db_index=True)
    settled = models.BooleanField(default=False)
    settle_amount = models.DecimalField(max_digits=14, decimal_places=2, null=True, blank=True)
    refunded = models.BooleanField(default=False)
    fail_reason = models.TextField(blank=True)
    status_confirmed = models.BooleanField(
        default=False, help_text="Whether the service itself reported the status; a status "
                                 "only inferred (a refused create) yields to its report.")
    held_order_id = models.CharField(
        max_length=128, blank=True, db_index=True,
        help_text="An order offered to this payment that may be another's: held for review.")
    note = models.TextField(blank=True, help_text="Why the payment is unconfirmed or held.")

    service_pay_status = models.IntegerField(null=True, blank=True)
    service_pay_status_text = models.TextField(blank=True)
    service_settle_status = models.IntegerField(null=True, blank=True)
    service_settle_status_text = models.TextField(blank=True)
    service_refund_status = models.IntegerField(null=True, blank=True)
    service_refund_status_text = models.TextField(blank=True)
    service_amount = models.TextField(blank=True)
    service_settle_amount = models.TextField(blank=True)
    service_expired = models.TextField(blank=True)
    service_fail_reason = models.TextField(blank=True)

    created_at = models.DateTimeField(auto_now_add=True, db_index=True)
    updated_at = models.DateTimeField(auto_now=True)
    refreshed_at = models.DateTimeField(null=True, blank=True,
                                        help_text="When the service was last asked for its state.")

    class Meta:
        ordering = ["-created_at"]

    def __str__(self) -> str:
        return f"{self.amount} {self.currency} ({self.status}) {self.reference}"

    @property
    def is_final(self) -> bool:
        """Whether the payment status can no longer change (settle and refund still can)."""
        return self.status in FINAL_STATUSES and self.status_confirmed

    @property
    def needs_review(self) -> bool:
        """Whether an order was offered to the payment that a person must assign."""
        return bool(self.held_order_id)


FINAL_STATUSES = frozenset(Payment.Status(status) for status in FINAL)


class CallbackEvent(models.Model):
    """One request to the callback view, recorded before it is acted upon."""

    class Outcome(models.TextChoices):
        RECEIVED = LedgerOutcome.RECEIVED.value  # recorded; not acted upon (yet)
        REFUSED = LedgerOutcome.REFUSED.value  # did not verify
        # could not be checked or processed: the shop's keys or database failed
        UNVERIFIABLE = LedgerOutcome.UNVERIFIABLE.value
        UNKNOWN_PAYMENT = LedgerOutcome.UNKNOWN_PAYMENT.value  # verified; no such reference
        MISMATCH = LedgerOutcome.MISMATCH.value  # verified; its order is not that payment's
        HELD = LedgerOutcome.HELD.value  # verified; the order may be another's: held for review
        UNAVAILABLE = LedgerOutcome.UNAVAILABLE.value  # verified; the service could not be asked
        CHANGED = LedgerOutcome.CHANGED.value
        UNCHANGED = LedgerOutcome.UNCHANGED.value

    # PROTECT: a payment with callbacks is the record of money and is never deleted.
    payment = models.ForeignKey(Payment, null=True, blank=True, on_delete=models.PROTECT,
                                related_name="callback_events")
    reference = models.UUIDField(null=True, blank=True,
                                 help_text="The payment reference of the URL it was sent to.")
    body = models.TextField(blank=True, help_text="The raw body (invalid UTF-8 replaced); of "
                                                  "one that did not verify, the first 4 KiB.")
    body_length = models.PositiveIntegerField(default=0, help_text="Bytes in the whole body.")
    body_sha256 = models.CharField(max_length=64, blank=True,
                                   help_text="SHA-256 of the whole body, in hex.")
    signature = models.CharField(max_length=255, blank=True)
    verified = models.BooleanField(default=False)
    order_id = models.CharField(max_length=128, blank=True, db_index=True)
    callback_status = models.CharField(max_length=32, blank=True,
                                       help_text="The status the callback reported.")
    outcome = models.CharField(max_length=16, choices=Outcome.choices, default=Outcome.RECEIVED)
    detail = models.TextField(blank=True, help_text="Why it was refused, or what it changed.")
    received_at = models.DateTimeField(auto_now_add=True, db_index=True)
    processed_at = models.DateTimeField(null=True, blank=True)

    class Meta:
        ordering = ["-received_at", "-id"]

    def __str__(self) -> str:
        return f"callback {self.callback_status or '?'} for {self.order_id or '?'} ({self.outcome})"
