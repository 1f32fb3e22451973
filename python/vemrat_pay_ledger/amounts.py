"""Amounts and currencies: `Decimal` in, checked against the currency, sent without a change.

`vemrat_pay` takes the amount as a float and sends its shortest decimal text. A `Decimal`
with few enough digits survives that exactly (float("19.99") is written back as "19.99");
one that would not is refused instead of being sent changed.

Decimal places per currency: 2 unless listed in `DEFAULT_DECIMAL_PLACES` or in the
overrides given, for example {"JPY": 0}. The service accepts at most 2.
"""

from __future__ import annotations

from collections.abc import Mapping
from decimal import Decimal, InvalidOperation

DEFAULT_DECIMAL_PLACES: dict[str, int] = {"JPY": 0, "KRW": 0}
STANDARD_DECIMAL_PLACES = 2
# What a stored amount holds: 14 digits with 2 decimal places.
MAX_INTEGER_DIGITS = 12


def decimal_places(currency: str, overrides: Mapping[str, int]) -> int:
    places: dict[str, int] = {**DEFAULT_DECIMAL_PLACES, **overrides}
    return places.get(currency, STANDARD_DECIMAL_PLACES)


def check_currency(currency: object) -> None:
    """Raises ValueError unless `currency` is a code of three upper-case letters, as "CNY"."""
    if not (isinstance(currency, str) and len(currency) == 3 and currency.isascii()
            and currency.isalpha() and currency.isupper()):
        raise ValueError(f"currency must be three upper-case letters, such as 'CNY', not {currency!r}")


def checked_amount(amount: object, currency: str, overrides: Mapping[str, int]) -> Decimal:
    """`amount` as a Decimal that the currency allows and a float carries exactly.

    Raises TypeError for a float (or anything but a Decimal or an int) and ValueError for
    an amount that is not positive, has too many places or digits.
    """
    if isinstance(amount, bool) or not isinstance(amount, (Decimal, int)):
        raise TypeError(f"amount must be a Decimal, not {type(amount).__name__}")
    value = Decimal(amount)
    if not value.is_finite() or value <= 0:
        raise ValueError(f"amount must be a positive number, not {value}")
    places = decimal_places(currency, overrides)
    exponent = value.normalize().as_tuple().exponent
    assert isinstance(exponent, int)  # finite
    if -exponent > places:
        raise ValueError(f"amount {value} has more decimal places than {currency} allows ({places})")
    if value.adjusted() >= MAX_INTEGER_DIGITS:
        raise ValueError(f"amount {value} has more than {MAX_INTEGER_DIGITS} digits before the point")
    if Decimal(repr(float(value))) != value:
        raise ValueError(f"amount {value} cannot be sent exactly")
    return value


def decimal_or_none(text: str) -> Decimal | None:
    """The service's amount text as a Decimal, or None when it is not a finite number."""
    try:
        value = Decimal(text)
    except InvalidOperation:
        return None
    return value if value.is_finite() else None
