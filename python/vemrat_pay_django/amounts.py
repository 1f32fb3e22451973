"""Amounts and currencies, with the decimal places of the setting CURRENCY_DECIMAL_PLACES.

The rules are the ledger's (`vemrat_pay_ledger.amounts`): `Decimal` in, checked against the
currency (2 places unless listed, 0 for JPY and KRW), sent without a change.
"""

from __future__ import annotations

from decimal import Decimal

from vemrat_pay_ledger import amounts

from .conf import get_setting

check_currency = amounts.check_currency


def decimal_places(currency: str) -> int:
    return amounts.decimal_places(currency, get_setting("CURRENCY_DECIMAL_PLACES"))


def checked_amount(amount: object, currency: str) -> Decimal:
    """See `vemrat_pay_ledger.amounts.checked_amount`."""
    return amounts.checked_amount(amount, currency, get_setting("CURRENCY_DECIMAL_PLACES"))
