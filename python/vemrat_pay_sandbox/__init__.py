"""A local sandbox of the Vemrat payment service, for development and tests.

It speaks the service's wire protocol: payment creation at
POST /alipayment/sponsor/pay/, the signed order-status query at
GET /alipayment/sponsor/order-status/, a payment page per order at
/pay/<order_id>, signed JSON callbacks to each order's user_notify_url,
a JSON control API under /sandbox/orders and fault injection under
/sandbox/faults for scripts and tests, and a dashboard at /sandbox/. It speaks
HTTP/1.1 with persistent connections, and HTTPS when asked (Sandbox(https=True)).
Point a client at it with VEMRAT_PAY_BASE_URL=<Sandbox.base_url>.

Service rules beyond the wire format:

- amount: a positive decimal with at most two decimal places and no sign or
  exponent, at most 999999999999.99; stored and reported with two decimals
  ("10" becomes "10.00"). NaN, inf, zero and negatives are refused.
- timestamp: within 300 s of the sandbox clock either way (configurable).
- nonce: 32 lower-case hex characters, accepted once per merchant across
  payments and queries, remembered in the database; a refused payment does not
  use its nonce up.
- pay_status 0 pending, 1 paid, 2 failed, 3 expired; settle_status 0
  unsettled, 1 settled; refund_status 0 none, 1 refunded (see `states`).
- errors: 400 malformed field, 401 authentication (unknown community key,
  wrong sponsor key, invalid signature, stale timestamp, replayed nonce),
  404 unknown order, 409 a transition the order's state forbids.
- callbacks are delivered in the background with a 5 s timeout per attempt and
  retried with backoff until a 2xx answer; every attempt is recorded with the
  order (GET /sandbox/orders/<id>), and POST /sandbox/orders/<id>/resend
  delivers the latest callback again.
- browsers: requests naming a foreign host in Host are refused (403; DNS
  rebinding), and so are requests that change state sent by another origin's
  page or, for the dashboard's forms, without its token; scripts and curl,
  which send no Origin, are served (see `web.browser_checks`).
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
