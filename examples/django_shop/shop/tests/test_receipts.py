from vemrat_pay_django.models import Payment

from shop.models import Receipt

from .support import ShopLiveServerTestCase

Status = Payment.Status


class ReceiptTests(ShopLiveServerTestCase):
    def test_a_paid_payment_gets_one_receipt_however_often_its_callback_comes(self) -> None:
        payment = self.checkout()
        record = self.payments.pay(payment)
        self.assertEqual(record["callbacks"][-1]["status"], 200)
        for _ in range(2):
            self.assertEqual(self.payments.deliver_callback(payment).status_code, 200)
        self.payments.settle(payment)
        self.assertEqual(Receipt.objects.get().payment_id, payment.pk)
        self.assertEqual(Payment.objects.get(pk=payment.pk).status, Status.PAID)

    def test_a_failed_payment_gets_no_receipt(self) -> None:
        payment = self.checkout()
        self.payments.fail(payment, reason="declined")
        self.assertEqual(Payment.objects.get(pk=payment.pk).status, Status.FAILED)
        self.assertFalse(Receipt.objects.exists())
