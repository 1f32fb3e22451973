from django.db import models
from vemrat_pay_django.models import Payment


class Receipt(models.Model):
    """The shop's receipt for a paid payment: issued once, when the payment is paid."""

    payment = models.OneToOneField(Payment, on_delete=models.PROTECT, related_name="receipt")
    issued = models.DateTimeField(auto_now_add=True)

    def __str__(self) -> str:
        return f"receipt {self.pk} for {self.payment.reference}"
