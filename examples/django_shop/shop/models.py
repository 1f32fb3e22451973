import uuid

from django.db import models


class Order(models.Model):
    """A checkout of this shop and what it knows of the matching service order."""

    class PayStatus(models.TextChoices):
        CREATING = "creating"  # the payment request is under way
        UNCONFIRMED = "unconfirmed"  # the payment request got no answer
        PENDING = "pending"
        PAID = "paid"
        FAILED = "failed"
        EXPIRED = "expired"

    # Chosen when the checkout form is shown: a resubmitted form finds its order again
    # instead of creating a second payment. Also the order page's address.
    reference = models.UUIDField(default=uuid.uuid4, unique=True, editable=False)
    # The service's order id; empty until the service has answered.
    order_id = models.CharField(max_length=64, unique=True, null=True, blank=True)
    pay_url = models.URLField(max_length=500, blank=True)
    amount = models.DecimalField(max_digits=14, decimal_places=2)
    currency = models.CharField(max_length=3)
    recipient = models.CharField(max_length=64)
    pay_status = models.CharField(max_length=16, choices=PayStatus.choices,
                                  default=PayStatus.CREATING)
    settled = models.BooleanField(default=False)
    settle_amount = models.CharField(max_length=20, blank=True)
    refunded = models.BooleanField(default=False)
    fail_reason = models.CharField(max_length=255, blank=True)
    created = models.DateTimeField(auto_now_add=True)
    updated = models.DateTimeField(auto_now=True)

    class Meta:
        ordering = ["-created"]

    def __str__(self) -> str:
        return f"{self.reference} {self.amount} {self.currency} ({self.pay_status})"
