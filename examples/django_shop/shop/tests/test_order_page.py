import os
import uuid
from unittest import mock

from django.urls import reverse
from vemrat_pay_django.models import Payment

from .support import ShopTestCase

Status = Payment.Status


class OrderPageTests(ShopTestCase):
    def test_shows_what_the_service_says_and_stores_it(self) -> None:
        payment = self.checkout(amount="30.00")
        # The service moves on; its callbacks never reach the shop.
        self.payments.pay(payment)
        self.payments.settle(payment, "25.00")
        self.assertEqual(Payment.objects.get(pk=payment.pk).status, Status.PENDING)

        response = self.client.get(reverse("shop:order", args=[payment.reference]))
        self.assertEqual(response.status_code, 200)
        self.assertContains(response, '<td id="pay-status">paid</td>', html=True)
        self.assertContains(response, '<td id="settle-status">settled</td>', html=True)
        self.assertContains(response, '<td id="refund-status">none</td>', html=True)
        self.assertContains(response, 'id="receipt"')
        self.assertNotContains(response, 'id="pay-link"')
        stored = Payment.objects.get(pk=payment.pk)
        self.assertEqual((stored.status, stored.settled), (Status.PAID, True))

    def test_a_pending_payment_links_to_its_payment_page(self) -> None:
        payment = self.checkout()
        response = self.client.get(reverse("shop:order", args=[payment.reference]))
        self.assertContains(response, '<td id="pay-status">pending</td>', html=True)
        self.assertContains(response, f'<a id="pay-link" href="{payment.pay_url}">Pay now</a>',
                            html=True)

    def test_an_unreachable_service_shows_the_stored_status(self) -> None:
        payment = self.checkout()
        self.payments.pay(payment)
        self.payments.deliver_callback(payment)
        gone = self.payments.sandbox.base_url + "/gone"
        with mock.patch.dict(os.environ, {"VEMRAT_PAY_BASE_URL": gone}):
            response = self.client.get(reverse("shop:order", args=[payment.reference]))
        self.assertEqual(response.status_code, 200)
        self.assertContains(response, 'id="unavailable"')
        self.assertContains(response, '<td id="pay-status">paid</td>', html=True)

    def test_an_unknown_order_is_not_found(self) -> None:
        response = self.client.get(reverse("shop:order", args=[uuid.uuid4()]))
        self.assertEqual(response.status_code, 404)
