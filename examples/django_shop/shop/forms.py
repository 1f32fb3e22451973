from decimal import Decimal

from django import forms


class CheckoutForm(forms.Form):
    amount = forms.DecimalField(max_digits=14, decimal_places=2, min_value=Decimal("0.01"))
    currency = forms.CharField(min_length=3, max_length=3, initial="CNY")
    recipient = forms.CharField(max_length=64, label="Recipient account")
    # Hidden; a form posted without one starts a new order.
    reference = forms.UUIDField(required=False, widget=forms.HiddenInput)

    def clean_currency(self) -> str:
        currency: str = self.cleaned_data["currency"]
        return currency.upper()
