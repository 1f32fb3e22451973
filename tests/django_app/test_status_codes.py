"""The service's codes read through the map in settings: overridden, unknown, wrongly given."""

from __future__ import annotations

import logging
from decimal import Decimal
from typing import Any

import pytest
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements

Status = Payment.Status

pytestmark = pytest.mark.django_db(transaction=True)


@pytest.mark.parametrize(("codes", "action", "status", "transitions"), [
    ({}, "expire", Status.EXPIRED, ["expired"]),
    ({"pay_status": {0: "pending", 1: "paid", 2: "failed", 3: "failed"}}, "expire",
     Status.FAILED, ["failed"]),
    ({"pay_status": {0: "pending", 2: "failed", 3: "expired"}}, "pay", Status.PENDING, []),
    ({"pay_status": {0: "pending", 1: "done"}}, "pay", Status.PENDING, []),
], ids=["default", "overridden", "unknown code", "wrong meaning"])
def test_codes_mean_what_settings_say(payments: PaymentSandbox, settings: Any,
                                      announced: Announcements, caplog: pytest.LogCaptureFixture,
                                      codes: dict[str, dict[int, str]], action: str,
                                      status: Payment.Status, transitions: list[str]) -> None:
    settings.VEMRAT_PAY = {**settings.VEMRAT_PAY, "STATUS_CODES": codes}
    payment = start_payment(Decimal("3.00"), currency="CNY", recipient_account="2088000000000001")
    payments.act(payment, action)
    with caplog.at_level(logging.WARNING, logger="vemrat_pay_django"):
        refresh_payment(payment)
    assert payment.status == status
    assert announced.of(payment) == transitions
    reported = payments.order(payment)["pay_status"]
    assert payment.service_pay_status == reported  # the raw code is kept whatever it means
    unknown = f"unknown pay_status {reported}" in caplog.text
    assert unknown == (not transitions)
