"""The ledger of this app: `vemrat_pay_ledger.Ledger` on the ORM storage, with the settings."""

from __future__ import annotations

import logging

from vemrat_pay_ledger.ledger import Ledger

from .client import get_client
from .conf import get_setting
from .storage import OrmStore

logger = logging.getLogger("vemrat_pay_django")


def get_ledger() -> Ledger:
    """A ledger with the settings in force now (cheap: settings may change, as tests do)."""
    return Ledger(OrmStore(), get_client, status_codes=get_setting("STATUS_CODES"),
                  decimal_places=get_setting("CURRENCY_DECIMAL_PLACES"), logger=logger)
