"""The service's side of a shop's payment, for the testing helpers of the shop integrations: find a
payment's order in the sandbox (also when its id never reached the shop) and move it as the
service would."""

from __future__ import annotations

from typing import Any, Protocol

from .sandbox import Sandbox


class ShopPayment(Protocol):
    """A payment as a shop stores it: the order id it learned, if any, and its callback URL, which
    the service keeps with the order."""

    @property
    def order_id(self) -> str | None: ...
    @property
    def callback_url(self) -> str: ...


class SandboxPayments:
    """Actions on the orders of a running sandbox, `self.sandbox`, by the shop's payment."""

    sandbox: Sandbox

    def order_id(self, payment: ShopPayment) -> str:
        """The sandbox's order of the payment, also when its id never reached the shop."""
        if payment.order_id:
            return payment.order_id
        for record in self.sandbox.orders():
            if record["user_notify_url"] == payment.callback_url:
                return str(record["order_id"])
        raise LookupError(f"the sandbox has no order for the payment at {payment.callback_url}")

    def order(self, payment: ShopPayment) -> dict[str, Any]:
        """The sandbox's record of the payment's order, with its callback deliveries."""
        return self.sandbox.order(self.order_id(payment))

    def latest_callback(self, payment: ShopPayment) -> dict[str, Any]:
        """The last callback the sandbox sent for the payment's order (its body and signature)."""
        callbacks = self.order(payment)["callbacks"]
        if not callbacks:
            raise LookupError(f"the sandbox sent no callback for the payment at {payment.callback_url}")
        return dict(callbacks[-1])

    def act(self, payment: ShopPayment, action: str, **options: Any) -> dict[str, Any]:
        """Moves the order as the service would (pay, fail, expire, settle, refund), which
        sends its callback; the sandbox's record of the order once that has been tried."""
        order_id = self.order_id(payment)
        self.sandbox.service.apply(order_id, action, **options)
        self.sandbox.wait_for_callbacks()
        return self.sandbox.order(order_id)

    def pay(self, payment: ShopPayment) -> dict[str, Any]:
        return self.act(payment, "pay")

    def fail(self, payment: ShopPayment, reason: str = "") -> dict[str, Any]:
        return self.act(payment, "fail", reason=reason)

    def expire(self, payment: ShopPayment) -> dict[str, Any]:
        return self.act(payment, "expire")

    def settle(self, payment: ShopPayment, amount: str | None = None) -> dict[str, Any]:
        return self.act(payment, "settle", settle_amount=amount)

    def refund(self, payment: ShopPayment) -> dict[str, Any]:
        return self.act(payment, "refund")
