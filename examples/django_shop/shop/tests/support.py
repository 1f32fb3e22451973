"""The shop with an in-process payment sandbox: live, or with callbacks handed over by hand."""

from django.test import Client, LiveServerTestCase, TransactionTestCase
from django.urls import reverse
from vemrat_pay_django.models import Payment
from vemrat_pay_django.testing import PaymentSandbox


class WithPayments:
    """A sandbox for the test class; a live server, if the class has one, gets its callbacks."""

    payments: PaymentSandbox

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()  # type: ignore[misc]
        live_server_url = getattr(cls, "live_server_url", None)
        cls.payments = cls.enterClassContext(  # type: ignore[attr-defined]
            PaymentSandbox(callback_base_url=live_server_url))

    client: Client

    def checkout(self, amount: str = "19.99", **fields: str) -> Payment:
        response = self.client.post(reverse("shop:checkout"), {
            "amount": amount, "currency": "CNY", "recipient": "2088000000000001", **fields})
        self.assertEqual(response.status_code, 302, response.content)  # type: ignore[attr-defined]
        return Payment.objects.get(pay_url=response["Location"])


class ShopTestCase(WithPayments, TransactionTestCase):
    """The shop; the sandbox's callbacks reach it only through `payments.deliver_callback`."""


class ShopLiveServerTestCase(WithPayments, LiveServerTestCase):
    """The shop on a real server, to which the sandbox delivers its callbacks over HTTP."""

    host = "127.0.0.1"
