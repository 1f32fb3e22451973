"""A payment as this shop knows it, and every callback the service sent about one."""

from __future__ import annotations

import uuid

from django.db import models


class Payment(models.Model):
    """One payment started by this shop, and the service's order behind it.

    `status` and the settle and refund state are this app's own, moved only forward; the
    `service_*` fields hold the service's answer to the last order-status query as it came.
    """

    class Status(models.TextChoices):
        CREATING = "creating"  # saved; the request to the service is under way
        UNCONFIRMED = "unconfirmed"  # that request got no answer: the order may exist
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
        return self.status in FINAL_STATUSES


FINAL_STATUSES = frozenset({Payment.Status.PAID, Payment.Status.FAILED, Payment.Status.EXPIRED})


class CallbackEvent(models.Model):
    """One request to the callback view, recorded before it is acted upon."""

    class Outcome(models.TextChoices):
        RECEIVED = "received"  # recorded; not acted upon (yet)
        REFUSED = "refused"  # did not verify
        UNKNOWN_PAYMENT = "unknown-payment"  # verified, but no payment has that reference
        MISMATCH = "mismatch"  # verified, but its order does not belong to that payment
        UNAVAILABLE = "unavailable"  # verified; the service could not be asked for the state
        CHANGED = "changed"
        UNCHANGED = "unchanged"

    payment = models.ForeignKey(Payment, null=True, blank=True, on_delete=models.SET_NULL,
                                related_name="callback_events")
    reference = models.UUIDField(null=True, blank=True,
                                 help_text="The payment reference of the URL it was sent to.")
    body = models.TextField(blank=True, help_text="The raw body (invalid UTF-8 replaced).")
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
