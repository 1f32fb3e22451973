"""What the ledger needs of `vemrat_pay.Client`, as a Protocol (the module's Client fits it)."""

from __future__ import annotations

from typing import Protocol

from .create_outcomes import CreatedOrder
from .transitions import OrderReport


class ServiceClient(Protocol):
    def create_payment(self, amount: float, currency: str, recipient_account: str,
                       notify_url: str, pay_mode: str = ...,
                       return_url: str | None = ...) -> CreatedOrder: ...

    def query_order(self, order_id: str) -> OrderReport: ...

    def verify_callback(self, body: str, signature: str) -> dict[str, str]: ...
