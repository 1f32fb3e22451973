"""What the shop does when a payment is paid: it issues the receipt."""

import logging
from typing import Any

from django.dispatch import receiver
from vemrat_pay_django.models import Payment
from vemrat_pay_django.signals import payment_paid

from .models import Receipt

logger = logging.getLogger(__name__)


@receiver(payment_paid)
def issue_receipt(sender: type[Payment], payment: Payment, **kwargs: Any) -> None:
    receipt = Receipt.objects.create(payment=payment)
    logger.info("payment %s paid: %s issued", payment.reference, receipt)
