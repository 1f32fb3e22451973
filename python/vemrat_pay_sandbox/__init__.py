"""A local sandbox of the Vemrat payment service, for development and tests.

It speaks the service's wire protocol: payment creation at
POST /alipayment/sponsor/pay/, the signed order-status query at
GET /alipayment/sponsor/order-status/, a payment page per order at
/pay/<order_id>, signed JSON callbacks to each order's user_notify_url,
and a JSON control API under /sandbox/orders for scripts and tests.
Point a client at it with VEMRAT_PAY_BASE_URL=<Sandbox.base_url>.
"""

from .callbacks import SIGNATURE_HEADER, callback_body, make_callback
from .protocol import Rejected
from .sandbox import Sandbox
from .signing import sign, sign_callback, sign_order_status
from .states import (PAY_EXPIRED, PAY_FAILED, PAY_PAID, PAY_PENDING, REFUND_DONE, REFUND_NONE,
                     SETTLE_DONE, SETTLE_NONE)

__all__ = [
    "Sandbox", "sign", "sign_callback", "sign_order_status", "make_callback", "callback_body",
    "SIGNATURE_HEADER", "Rejected",
    "PAY_PENDING", "PAY_PAID", "PAY_FAILED", "PAY_EXPIRED",
    "SETTLE_NONE", "SETTLE_DONE", "REFUND_NONE", "REFUND_DONE",
]
