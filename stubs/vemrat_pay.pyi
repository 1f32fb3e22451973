"""Client of the Vemrat payment service (payments collected through Alipay)."""

from typing import Final, SupportsFloat, SupportsIndex, final

__version__: Final[str]
__all__ = ["Client", "PaymentResult", "OrderStatus", "__version__"]

@final
class Client:
    def __new__(cls, community_key: str | None = None, sponsor_key: str | None = None) -> Client: ...
    def create_payment(
        self,
        amount: SupportsFloat | SupportsIndex,
        currency: str,
        recipient_account: str,
        notify_url: str,
        pay_mode: str = "split",
        return_url: str | None = None,
    ) -> PaymentResult:
        """Create a payment order.

        pay_mode:
          - "split"  (default): royalty split, requires recipient_account and
            the merchant's Alipay app must have the royalty-split API enabled.
          - "direct": direct payment, funds go straight to the merchant account.
            recipient_account is ignored, no royalty-split permission needed.
        """

    def query_order(self, order_id: str) -> OrderStatus:
        """Query order status."""

    def verify_callback(self, body: str, signature: str) -> dict[str, str]:
        """Verify a callback from Vemrat."""

@final
class PaymentResult:
    """Payment result returned by create_payment."""

    @property
    def order_id(self) -> str: ...
    @property
    def pay_url(self) -> str: ...

@final
class OrderStatus:
    """Order status returned by query_order."""

    @property
    def order_id(self) -> str: ...
    @property
    def pay_status(self) -> int: ...
    @property
    def pay_status_text(self) -> str: ...
    @property
    def settle_status(self) -> int: ...
    @property
    def settle_status_text(self) -> str: ...
    @property
    def refund_status(self) -> int: ...
    @property
    def refund_status_text(self) -> str: ...
    @property
    def amount(self) -> str: ...
    @property
    def settle_amount(self) -> str: ...
    @property
    def expired(self) -> str: ...
    @property
    def fail_reason(self) -> str: ...
