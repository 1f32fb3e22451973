import os
import socket
import tempfile
import uuid
from unittest import mock

from django.test import Client, override_settings
from django.urls import reverse

from shop.models import Order

from .support import COMMUNITY_KEY, ShopLiveServerTestCase, SilentServer, write_key_file

Pay = Order.PayStatus


class CheckoutTests(ShopLiveServerTestCase):
    def test_redirects_to_the_sandbox_payment_page_and_stores_the_order(self) -> None:
        order = self.checkout(amount="19.99")
        self.assertTrue(order.pay_url.startswith(f"{self.sandbox.base_url}/pay/"), order.pay_url)
        self.assertEqual(order.pay_status, Pay.PENDING)
        assert order.order_id is not None
        record = self.sandbox.order(order.order_id)
        self.assertEqual(record["amount"], "19.99")
        self.assertEqual(record["currency"], "CNY")
        self.assertEqual(record["recipient_account"], "2088000000000001")
        self.assertEqual(record["user_notify_url"], self.live_server_url + reverse("shop:callback"))
        self.assertEqual(record["return_url"],
                         self.live_server_url + reverse("shop:order", args=[order.reference]))

    def test_the_form_page_carries_a_fresh_reference(self) -> None:
        first, second = (self.client.get(reverse("shop:checkout")) for _ in range(2))
        self.assertEqual(first.status_code, 200)
        references = [response.context["form"].initial["reference"] for response in (first, second)]
        self.assertNotEqual(references[0], references[1])
        self.assertContains(first, f'value="{references[0]}"')

    def test_an_invalid_form_is_shown_again_and_nothing_is_created(self) -> None:
        before = len(self.sandbox.service.records())
        for row in ({"amount": "0", "currency": "CNY", "recipient": "acct"},
                    {"amount": "1.001", "currency": "CNY", "recipient": "acct"},
                    {"amount": "10", "currency": "YUAN", "recipient": "acct"},
                    {"amount": "10", "currency": "CNY", "recipient": ""}):
            with self.subTest(row):
                response = self.client.post(reverse("shop:checkout"), row)
                self.assertEqual(response.status_code, 400)
        self.assertFalse(Order.objects.exists())
        self.assertEqual(len(self.sandbox.service.records()), before)

    def test_a_resubmitted_form_does_not_create_a_second_payment(self) -> None:
        reference = str(uuid.uuid4())
        order = self.checkout(reference=reference)
        created = len(self.sandbox.service.records())
        again = self.client.post(reverse("shop:checkout"), {
            "amount": "19.99", "currency": "CNY", "recipient": "2088000000000001",
            "reference": reference})
        self.assertRedirects(again, order.pay_url, fetch_redirect_response=False)
        self.assertEqual(len(self.sandbox.service.records()), created)

        assert order.order_id is not None
        self.control(order.order_id, "pay")
        paid = self.client.post(reverse("shop:checkout"), {
            "amount": "19.99", "currency": "CNY", "recipient": "2088000000000001",
            "reference": reference})
        self.assertRedirects(paid, reverse("shop:order", args=[order.reference]),
                             fetch_redirect_response=False)
        self.assertEqual(len(self.sandbox.service.records()), created)

    def test_a_refused_payment_shows_the_service_message_and_keeps_no_order(self) -> None:
        with tempfile.TemporaryDirectory() as other:
            write_key_file(other, COMMUNITY_KEY, "not-the-sponsor-key")
            with override_settings(WORKING_SPACE=other):
                response = self.client.post(reverse("shop:checkout"), {
                    "amount": "5", "currency": "CNY", "recipient": "acct"})
        self.assertEqual(response.status_code, 502)
        self.assertContains(response, "wrong sponsor key", status_code=502)
        self.assertFalse(Order.objects.exists())

    def test_a_timed_out_payment_is_not_created_again(self) -> None:
        reference = str(uuid.uuid4())
        form = {"amount": "8.00", "currency": "CNY", "recipient": "acct", "reference": reference}
        previous = socket.getdefaulttimeout()
        socket.setdefaulttimeout(0.3)
        try:
            with SilentServer() as silent, \
                    mock.patch.dict(os.environ, {"VEMRAT_PAY_BASE_URL": silent.base_url}):
                response = self.client.post(reverse("shop:checkout"), form)
                self.assertEqual(response.status_code, 504)
                self.assertEqual(len(silent.connections), 1)
                order = Order.objects.get(reference=reference)
                self.assertEqual(order.pay_status, Pay.UNCONFIRMED)
                self.assertIsNone(order.order_id)

                again = self.client.post(reverse("shop:checkout"), form)
                self.assertEqual(again.status_code, 409)
                self.assertEqual(len(silent.connections), 1)
        finally:
            socket.setdefaulttimeout(previous)

    def test_an_unreachable_service_leaves_the_order_unconfirmed(self) -> None:
        with socket.create_server(("127.0.0.1", 0)) as closed:
            port = closed.getsockname()[1]
        with mock.patch.dict(os.environ, {"VEMRAT_PAY_BASE_URL": f"http://127.0.0.1:{port}"}):
            response = self.client.post(reverse("shop:checkout"), {
                "amount": "8", "currency": "CNY", "recipient": "acct"})
        self.assertEqual(response.status_code, 502)
        self.assertEqual(Order.objects.get().pay_status, Pay.UNCONFIRMED)

    def test_checkout_requires_the_csrf_token(self) -> None:
        strict = Client(enforce_csrf_checks=True, HTTP_HOST=self.client.defaults["HTTP_HOST"])
        response = strict.post(reverse("shop:checkout"), {
            "amount": "8", "currency": "CNY", "recipient": "acct"})
        self.assertEqual(response.status_code, 403)
        self.assertFalse(Order.objects.exists())
