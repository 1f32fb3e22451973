import os
import uuid
from unittest import mock

from django.urls import reverse

from shop.models import Order

from .support import ShopLiveServerTestCase

Pay = Order.PayStatus


class OrderPageTests(ShopLiveServerTestCase):
    def test_shows_the_queried_status_and_stores_it(self) -> None:
        order = self.checkout(amount="30.00")
        assert order.order_id is not None
        self.control(order.order_id, "pay")
        self.control(order.order_id, "settle", amount="25.00")
        # Forget what the callbacks said: the page must ask the service.
        Order.objects.filter(pk=order.pk).update(pay_status=Pay.PENDING, settled=False,
                                                 settle_amount="")

        response = self.client.get(reverse("shop:order", args=[order.reference]))
        self.assertEqual(response.status_code, 200)
        self.assertContains(response, '<td id="pay-status">paid</td>', html=True)
        self.assertContains(response, '<td id="settle-status">settled</td>', html=True)
        self.assertContains(response, '<td id="refund-status">none</td>', html=True)
        self.assertNotContains(response, 'id="pay-link"')
        stored = Order.objects.get(pk=order.pk)
        self.assertEqual((stored.pay_status, stored.settled, stored.settle_amount),
                         (Pay.PAID, True, "25.00"))

    def test_a_pending_order_links_to_its_payment_page(self) -> None:
        order = self.checkout()
        response = self.client.get(reverse("shop:order", args=[order.reference]))
        self.assertContains(response, '<td id="pay-status">pending</td>', html=True)
        self.assertContains(response, f'<a id="pay-link" href="{order.pay_url}">Pay now</a>',
                            html=True)

    def test_an_unreachable_service_shows_the_stored_status(self) -> None:
        order = self.checkout()
        assert order.order_id is not None
        self.control(order.order_id, "pay")
        with mock.patch.dict(os.environ, {"VEMRAT_PAY_BASE_URL": self.sandbox.base_url + "/gone"}):
            response = self.client.get(reverse("shop:order", args=[order.reference]))
        self.assertEqual(response.status_code, 200)
        self.assertContains(response, 'id="unavailable"')
        self.assertContains(response, '<td id="pay-status">paid</td>', html=True)

    def test_an_unknown_order_is_not_found(self) -> None:
        response = self.client.get(reverse("shop:order", args=[uuid.uuid4()]))
        self.assertEqual(response.status_code, 404)
