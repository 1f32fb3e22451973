import json

from vemrat_pay_sandbox import SIGNATURE_HEADER as SANDBOX_SIGNATURE_HEADER
from vemrat_pay_sandbox import make_callback, sign_callback

from shop.models import Order
from shop.payments import SIGNATURE_HEADER

from .support import SPONSOR_KEY, ShopLiveServerTestCase

Pay = Order.PayStatus


class CallbackTests(ShopLiveServerTestCase):
    def test_the_shop_reads_the_header_the_service_signs_in(self) -> None:
        self.assertEqual(SIGNATURE_HEADER, SANDBOX_SIGNATURE_HEADER)

    def test_sandbox_callbacks_reach_the_live_server_and_update_the_order(self) -> None:
        # (actions through the control API, expected stored fields afterwards)
        table: list[tuple[list[tuple[str, dict[str, str]]], dict[str, object]]] = [
            ([("pay", {})], {"pay_status": Pay.PAID, "settled": False, "refunded": False}),
            ([("fail", {"reason": "card declined"})],
             {"pay_status": Pay.FAILED, "fail_reason": "card declined"}),
            ([("expire", {})], {"pay_status": Pay.EXPIRED, "fail_reason": "order expired"}),
            ([("pay", {}), ("settle", {"amount": "12.50"})],
             {"pay_status": Pay.PAID, "settled": True, "settle_amount": "12.50"}),
            ([("pay", {}), ("refund", {})], {"pay_status": Pay.PAID, "refunded": True}),
        ]
        for actions, expected in table:
            with self.subTest(actions=[name for name, _ in actions]):
                order = self.checkout(amount="20.00")
                assert order.order_id is not None
                for action, options in actions:
                    record = self.control(order.order_id, action, **options)
                    delivered = record["callbacks"][-1]
                    self.assertEqual(delivered["url"], self.live_server_url + "/vemrat/callback/")
                    self.assertEqual(delivered["status"], 200, delivered)
                stored = Order.objects.get(pk=order.pk)
                for field, value in expected.items():
                    self.assertEqual(getattr(stored, field), value, field)

    def test_forged_or_malformed_callbacks_are_refused_and_change_nothing(self) -> None:
        order = self.checkout()
        assert order.order_id is not None
        fields = {"status": "paid", "order_id": order.order_id, "amount": "19.99"}
        body, signature = make_callback(SPONSOR_KEY, **fields)
        reserialised = json.dumps(json.loads(body), indent=1, sort_keys=True)
        not_json = "status=paid"
        table: list[tuple[str, bytes, str | None]] = [
            ("signed with another key", body.encode(), make_callback("other-key", **fields)[1]),
            ("re-serialised body", reserialised.encode(), signature),
            ("tampered amount", body.replace("19.99", "0.01").encode(), signature),
            ("upper-case signature", body.encode(), signature.upper()),
            ("signature of another callback", body.encode(),
             make_callback(SPONSOR_KEY, **{**fields, "status": "failed"})[1]),
            ("no signature header", body.encode(), None),
            ("signed text that is not JSON", not_json.encode(), sign_callback(SPONSOR_KEY, not_json)),
            ("body that is not UTF-8", b'{"status":"paid\xff"}',
             sign_callback(SPONSOR_KEY, '{"status":"paid\xff"}')),
        ]
        for description, forged_body, forged_signature in table:
            with self.subTest(description):
                self.assertEqual(self.post_callback(forged_body, forged_signature), 400)
                self.assertEqual(Order.objects.get(pk=order.pk).pay_status, Pay.PENDING)
        # The genuine callback is accepted by the same endpoint.
        self.assertEqual(self.post_callback(body.encode(), signature), 200)
        self.assertEqual(Order.objects.get(pk=order.pk).pay_status, Pay.PAID)

    def test_repeated_and_late_callbacks_are_harmless(self) -> None:
        order = self.checkout()
        assert order.order_id is not None
        paid = self.control(order.order_id, "pay")["callbacks"][-1]
        for _ in range(2):
            self.assertEqual(self.post_callback(paid["body"].encode(), paid["signature"]), 200)
        stored = Order.objects.get(pk=order.pk)
        self.assertEqual((stored.pay_status, stored.refunded), (Pay.PAID, False))

        refunded = self.control(order.order_id, "refund")["callbacks"][-1]
        self.assertEqual(refunded["status"], 200)
        # The earlier "paid" arriving again after the refund does not undo it.
        self.assertEqual(self.post_callback(paid["body"].encode(), paid["signature"]), 200)
        stored = Order.objects.get(pk=order.pk)
        self.assertEqual((stored.pay_status, stored.refunded), (Pay.PAID, True))

    def test_a_failed_order_stays_failed_when_a_stray_paid_callback_arrives(self) -> None:
        order = self.checkout()
        assert order.order_id is not None
        self.control(order.order_id, "fail", reason="declined")
        body, signature = make_callback(SPONSOR_KEY, status="paid", order_id=order.order_id,
                                        amount="19.99")
        self.assertEqual(self.post_callback(body.encode(), signature), 200)
        self.assertEqual(Order.objects.get(pk=order.pk).pay_status, Pay.FAILED)

    def test_a_genuine_callback_for_an_unknown_order_is_acknowledged(self) -> None:
        body, signature = make_callback(SPONSOR_KEY, status="paid", order_id="VPnotours",
                                        amount="1.00")
        self.assertEqual(self.post_callback(body.encode(), signature), 200)
        self.assertFalse(Order.objects.filter(order_id="VPnotours").exists())

    def test_the_callback_endpoint_accepts_only_post(self) -> None:
        response = self.client.get("/vemrat/callback/")
        self.assertEqual(response.status_code, 405)
