"""Amounts: which Decimals the app sends, and which it refuses before anything is saved."""

from __future__ import annotations

from decimal import Decimal
from typing import Any

import pytest
from vemrat_pay_django.amounts import checked_amount


@pytest.mark.parametrize(("amount", "currency"), [
    (Decimal("0.01"), "CNY"),
    (Decimal("19.99"), "CNY"),
    (Decimal("19.90"), "CNY"),
    (Decimal("19.900"), "CNY"),  # trailing zeros are no extra places
    (10, "CNY"),
    (Decimal("999999999999.99"), "CNY"),
    (Decimal("1500"), "JPY"),
    (Decimal("1.5E+3"), "JPY"),
])
def test_accepted_amounts_survive_the_float_the_module_takes(amount: Any, currency: str) -> None:
    value = checked_amount(amount, currency)
    assert value == Decimal(amount)
    # The module sends the shortest text of the float; it must read back as the same amount.
    assert Decimal(repr(float(value))) == value


@pytest.mark.parametrize(("amount", "currency", "error", "message"), [
    (19.99, "CNY", TypeError, "must be a Decimal, not float"),
    ("19.99", "CNY", TypeError, "must be a Decimal, not str"),
    (True, "CNY", TypeError, "must be a Decimal, not bool"),
    (Decimal("1.001"), "CNY", ValueError, "more decimal places than CNY allows (2)"),
    (Decimal("100.5"), "JPY", ValueError, "more decimal places than JPY allows (0)"),
    (Decimal("0"), "CNY", ValueError, "must be a positive number"),
    (Decimal("-0.01"), "CNY", ValueError, "must be a positive number"),
    (Decimal("NaN"), "CNY", ValueError, "must be a positive number"),
    (Decimal("Infinity"), "CNY", ValueError, "must be a positive number"),
    (Decimal("1000000000000"), "CNY", ValueError, "more than 12 digits"),
])
def test_refused_amounts(amount: Any, currency: str, error: type[Exception], message: str) -> None:
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        checked_amount(amount, currency)


def test_places_follow_the_setting_and_an_inexact_amount_is_refused(settings: Any) -> None:
    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "CURRENCY_DECIMAL_PLACES": {"CNY": 0, "XTS": 8}}
    with pytest.raises(ValueError, match="more decimal places than CNY allows"):
        checked_amount(Decimal("1.50"), "CNY")
    assert checked_amount(Decimal("0.12345678"), "XTS") == Decimal("0.12345678")
    # 20 significant digits: the float in between would change it.
    with pytest.raises(ValueError, match="cannot be sent exactly"):
        checked_amount(Decimal("123456789012.12345678"), "XTS")
