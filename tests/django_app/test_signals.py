"""Signals: sent after the commit, never for a rolled-back change, whatever receivers do."""

from __future__ import annotations

import logging
from decimal import Decimal
from typing import Any

import pytest
from django.db import transaction
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.signals import payment_paid
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements

pytestmark = pytest.mark.django_db(transaction=True)


class RolledBack(Exception):
    pass


def start() -> Payment:
    return start_payment(Decimal("5.00"), currency="CNY", recipient_account="2088000000000001")


def test_a_rolled_back_change_announces_nothing(payments: PaymentSandbox,
                                                announced: Announcements) -> None:
    payment = start()
    payments.pay(payment)
    with pytest.raises(RolledBack), transaction.atomic():
        refresh_payment(payment)
        assert payment.status == Payment.Status.PAID
        assert announced.received == []  # not before the outer transaction commits
        raise RolledBack
    assert announced.received == []
    assert Payment.objects.get(pk=payment.pk).status == Payment.Status.PENDING

    with transaction.atomic():
        refresh_payment(payment)
        assert announced.received == []
    assert announced.of(payment) == ["paid"]
    assert not announced.received[0].in_transaction


def test_a_failing_receiver_neither_undoes_the_change_nor_silences_the_others(
        payments: PaymentSandbox, announced: Announcements,
        caplog: pytest.LogCaptureFixture) -> None:
    def broken(**kwargs: Any) -> None:
        raise RuntimeError("the mail server is down")

    payment_paid.connect(broken)
    try:
        payment = start()
        payments.pay(payment)
        with caplog.at_level(logging.ERROR, logger="vemrat_pay_django"):
            response = payments.deliver_callback(payment)
    finally:
        payment_paid.disconnect(broken)
    assert response.status_code == 200
    assert Payment.objects.get(pk=payment.pk).status == Payment.Status.PAID
    assert announced.of(payment) == ["paid"]
    failure = next(record for record in caplog.records if "payment_paid" in record.getMessage())
    assert failure.exc_info is not None and "the mail server is down" in str(failure.exc_info[1])
