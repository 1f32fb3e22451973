"""How a call to `Client.create_payment` ended, from the module's documented errors: one table.

Only an answer in which the service itself refused the request proves that no order was
stored; that, and only that, fails a payment at create time. Every other failure may hide an
order the service stored before the answer was lost or spoiled on the way, so the payment
stays `unconfirmed` until the service's own report (a callback, a reconcile) settles it.

| How the call ended                                       | Outcome     |
|----------------------------------------------------------|-------------|
| a result with an order id                                | created     |
| a result without an order id                             | unconfirmed |
| RuntimeError "HTTP 4xx: {...}", the service's JSON       |             |
|   error envelope (a string "detail")                     | refused     |
| RuntimeError: the bare "detail" of a 200 answer          | refused     |
| RuntimeError "HTTP 4xx: ..." with any other body         |             |
|   (a proxy's page), "HTTP 5xx: ...", "HTTP 2xx/3xx: ..." | unconfirmed |
| RuntimeError "Invalid JSON: ..." (garbled, cut short)    | unconfirmed |
| RuntimeError "Missing 'data' in response: ..."           | unconfirmed |
| http.client.HTTPException (IncompleteRead, BadStatusLine,|             |
|   LineTooLong, RemoteDisconnected, ...)                  | unconfirmed |
| OSError (URLError, a timeout, a connection error)        | unconfirmed |
| any other Exception (urllib or a proxy misbehaving)      | unconfirmed |

Argument errors are raised before anything is saved, and `PanicException` (not an
`Exception`) is never caught: neither is a create outcome.
"""

from __future__ import annotations

import enum
import json
import re
from dataclasses import dataclass
from typing import Protocol


class CreateOutcome(enum.StrEnum):
    CREATED = "created"
    REFUSED = "refused"
    UNCONFIRMED = "unconfirmed"


@dataclass(frozen=True)
class Classified:
    outcome: CreateOutcome
    detail: str  # the module's message, or what was missing


class CreatedOrder(Protocol):
    """What `vemrat_pay.PaymentResult` carries."""

    @property
    def order_id(self) -> str: ...

    @property
    def pay_url(self) -> str: ...


HTTP_STATUS = re.compile(r"HTTP (\d{3}): (.*)\Z", re.DOTALL)
# The module's own messages for answers it could not read; any other RuntimeError text of
# create_payment is the bare "detail" of the service's refusal.
UNREADABLE_ANSWER = ("Invalid JSON: ", "Missing 'data' in response: ")


def classify_result(result: CreatedOrder) -> Classified:
    if result.order_id:
        return Classified(CreateOutcome.CREATED, "")
    return Classified(CreateOutcome.UNCONFIRMED, "the service's answer named no order id")


def classify_error(error: Exception) -> Classified:
    """The outcome of a create call that raised `error`."""
    detail = f"{type(error).__name__}: {error}"
    if isinstance(error, RuntimeError) and type(error) is RuntimeError:
        message = str(error)
        status = HTTP_STATUS.match(message)
        if status is not None:
            code, body = int(status.group(1)), status.group(2)
            if 400 <= code < 500 and is_service_refusal(body):
                return Classified(CreateOutcome.REFUSED, message)
            return Classified(CreateOutcome.UNCONFIRMED, message)
        if message.startswith(UNREADABLE_ANSWER):
            return Classified(CreateOutcome.UNCONFIRMED, message)
        return Classified(CreateOutcome.REFUSED, message)
    # http.client.HTTPException, OSError and anything else: the request may have been carried out.
    return Classified(CreateOutcome.UNCONFIRMED, detail)


def is_service_refusal(body: str) -> bool:
    """Whether an error answer's body is the service's own envelope: a JSON object with a
    string "detail". A proxy's or a server's error page is not."""
    try:
        document = json.loads(body)
    except ValueError:
        return False
    return isinstance(document, dict) and isinstance(document.get("detail"), str)
