"""What the service's numeric status codes mean, with the overrides of the setting STATUS_CODES.

The service does not document its codes. The defaults are the sandbox's; a project whose
service account reports other codes overrides them per field in settings:

    VEMRAT_PAY = {"STATUS_CODES": {"pay_status": {0: "pending", 1: "paid", 2: "failed",
                                                  3: "expired", 4: "failed"}}}

Each field maps a code to one meaning. A code that is not in the map means "unknown": the
payment keeps its state, the raw code is stored, and a warning is logged. The map itself is
the ledger's (`vemrat_pay_ledger.status_codes`).
"""

from __future__ import annotations

from vemrat_pay_ledger.status_codes import DEFAULT_STATUS_CODES, MEANINGS, problems
from vemrat_pay_ledger.status_codes import meaning as ledger_meaning

from .conf import get_setting

__all__ = ["DEFAULT_STATUS_CODES", "MEANINGS", "meaning", "problems"]


def meaning(field: str, code: int) -> str | None:
    """What `code` of `field` ("pay_status", "settle_status", "refund_status") means, or None."""
    return ledger_meaning(field, code, get_setting("STATUS_CODES"))
