import os
import socket
import uuid
from unittest import mock

from django.conf import settings
from django.test import Client, override_settings
from django.urls import reverse
from vemrat_pay_django.models import Payment
from vemrat_pay_django.testing import SilentService

from .support import ShopLiveServerTestCase

Status = Payment.Status


class CheckoutTests(ShopLiveServerTestCase):
    def test_redirects_to_the_payment_page_and_keeps_the_payment(self) -> None:
        payment = self.checkout(amount="19.99")
        self.assertTrue(payment.pay_url.startswith(f"{self.payments.sandbox.base_url}/pay/"))
        self.assertEqual(payment.status, Status.PENDING)
        record = self.payments.order(payment)
        self.assertEqual((record["amount"], record["currency"], record["recipient_account"]),
                         ("19.99", "CNY", "2088000000000001"))
        self.assertEqual(record["user_notify_url"], payment.callback_url)
        self.assertEqual(record["return_url"],
                         self.live_server_url + reverse("shop:order", args=[payment.reference]))

    def test_the_form_page_carries_a_fresh_reference(self) -> None:
        first, second = (self.client.get(reverse("shop:checkout")) for _ in range(2))
        self.assertEqual(first.status_code, 200)
        references = [response.context["form"].initial["reference"] for response in (first, second)]
        self.assertNotEqual(references[0], references[1])
        self.assertContains(first, f'value="{references[0]}"')

    def test_an_invalid_form_is_shown_again_and_nothing_is_started(self) -> None:
        before = len(self.payments.sandbox.orders())
        for row in ({"amount": "0", "currency": "CNY", "recipient": "acct"},
                    {"amount": "1.001", "currency": "CNY", "recipient": "acct"},
                    {"amount": "10", "currency": "YUAN", "recipient": "acct"},
                    {"amount": "10", "currency": "CNY", "recipient": ""}):
            with self.subTest(row):
                response = self.client.post(reverse("shop:checkout"), row)
                self.assertEqual(response.status_code, 400)
        self.assertFalse(Payment.objects.exists())
        self.assertEqual(len(self.payments.sandbox.orders()), before)

    def test_a_resubmitted_form_does_not_start_a_second_payment(self) -> None:
        form = {"amount": "19.99", "currency": "CNY", "recipient": "2088000000000001",
                "reference": str(uuid.uuid4())}
        payment = self.checkout(**form)
        started = len(self.payments.sandbox.orders())
        again = self.client.post(reverse("shop:checkout"), form)
        self.assertRedirects(again, payment.pay_url, fetch_redirect_response=False)
        self.assertEqual(len(self.payments.sandbox.orders()), started)

        self.payments.pay(payment)  # its callback reaches the live shop
        paid = self.client.post(reverse("shop:checkout"), form)
        self.assertRedirects(paid, reverse("shop:order", args=[payment.reference]),
                             fetch_redirect_response=False)
        self.assertEqual(len(self.payments.sandbox.orders()), started)

    def test_a_refused_payment_shows_the_service_message(self) -> None:
        with override_settings(VEMRAT_PAY={**settings.VEMRAT_PAY, "SPONSOR_KEY": "wrong"}):
            response = self.client.post(reverse("shop:checkout"), {
                "amount": "5", "currency": "CNY", "recipient": "acct"})
        self.assertContains(response, "wrong sponsor key", status_code=502)
        self.assertEqual(Payment.objects.get().status, Status.FAILED)

    def test_a_timed_out_payment_is_not_started_again(self) -> None:
        form = {"amount": "8.00", "currency": "CNY", "recipient": "acct",
                "reference": str(uuid.uuid4())}
        previous = socket.getdefaulttimeout()
        socket.setdefaulttimeout(0.3)
        try:
            with SilentService() as silent, \
                    mock.patch.dict(os.environ, {"VEMRAT_PAY_BASE_URL": silent.base_url}):
                for _ in range(2):
                    response = self.client.post(reverse("shop:checkout"), form)
                    self.assertContains(response, "did not answer", status_code=504)
                self.assertEqual(len(silent.connections), 1)
        finally:
            socket.setdefaulttimeout(previous)
        payment = Payment.objects.get()
        self.assertEqual((payment.status, payment.order_id), (Status.UNCONFIRMED, None))

    def test_checkout_requires_the_csrf_token(self) -> None:
        strict = Client(enforce_csrf_checks=True)
        response = strict.post(reverse("shop:checkout"), {
            "amount": "8", "currency": "CNY", "recipient": "acct"})
        self.assertEqual(response.status_code, 403)
        self.assertFalse(Payment.objects.exists())
