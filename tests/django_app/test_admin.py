"""The admin: lists with filters and search, read-only records, the refresh action."""

from __future__ import annotations

from decimal import Decimal

import pytest
from django.contrib.admin import helpers
from django.test import Client
from django.urls import reverse
from vemrat_pay_django.models import CallbackEvent, Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox, post_callback

pytestmark = pytest.mark.django_db(transaction=True)


def start(amount: str) -> Payment:
    return start_payment(Decimal(amount), currency="CNY", recipient_account="2088000000000001")


def test_the_payment_list_filters_and_searches(payments: PaymentSandbox,
                                               admin_client: Client) -> None:
    paid, pending = start("11.00"), start("22.00")
    payments.pay(paid)
    payments.deliver_callback(paid)
    url = reverse("admin:vemrat_pay_payment_changelist")
    listed = admin_client.get(url)
    assert listed.status_code == 200
    assert {paid.pk, pending.pk} == {payment.pk for payment in listed.context["cl"].result_list}
    for query, expected in (({"status__exact": "paid"}, [paid.pk]),
                            ({"q": pending.order_id}, [pending.pk]),
                            ({"q": str(paid.reference)}, [paid.pk]),
                            ({"q": "no-such-order"}, [])):
        page = admin_client.get(url, query)
        assert [payment.pk for payment in page.context["cl"].result_list] == expected, query


def test_records_are_read_only_and_show_their_callbacks(payments: PaymentSandbox,
                                                         admin_client: Client) -> None:
    payment = start("11.00")
    post_callback(payment, "not signed", "0" * 64)
    page = admin_client.get(reverse("admin:vemrat_pay_payment_change", args=[payment.pk]))
    assert page.status_code == 200
    form = page.context["adminform"].form
    assert "status" not in form.fields and "order_id" not in form.fields
    assert "invalid callback signature" in page.content.decode().lower()
    assert admin_client.get(reverse("admin:vemrat_pay_payment_add")).status_code == 403

    events = admin_client.get(reverse("admin:vemrat_pay_callbackevent_changelist"),
                              {"verified__exact": "0"})
    assert [event.pk for event in events.context["cl"].result_list] == [
        CallbackEvent.objects.get().pk]
    event_page = admin_client.get(reverse("admin:vemrat_pay_callbackevent_change",
                                          args=[CallbackEvent.objects.get().pk]))
    assert "body" not in event_page.context["adminform"].form.fields


def test_the_refresh_action_asks_the_service(payments: PaymentSandbox, admin_client: Client) -> None:
    paid, pending, lost = start("11.00"), start("22.00"), start("33.00")
    payments.pay(paid)
    Payment.objects.filter(pk=lost.pk).update(order_id="VPunknown")
    response = admin_client.post(reverse("admin:vemrat_pay_payment_changelist"), {
        "action": "refresh", helpers.ACTION_CHECKBOX_NAME: [paid.pk, pending.pk, lost.pk]},
        follow=True)
    assert response.status_code == 200
    shown = [str(message) for message in response.context["messages"]]
    assert any(text.startswith(f"{lost.reference}: RuntimeError: ") for text in shown), shown
    assert "3 payments refreshed: 1 changed, 1 unchanged, 0 held, 0 no order id, 1 failed." in shown
    assert Payment.objects.get(pk=paid.pk).status == Payment.Status.PAID


@pytest.mark.parametrize("model", [Payment, CallbackEvent])
def test_nothing_can_be_deleted(payments: PaymentSandbox, admin_client: Client,
                                model: type[Payment] | type[CallbackEvent]) -> None:
    paid = start("11.00")
    payments.pay(paid)
    payments.deliver_callback(paid)
    record = model.objects.get()
    name = model._meta.model_name
    changelist = reverse(f"admin:vemrat_pay_{name}_changelist")
    listed = admin_client.get(changelist)
    assert "delete_selected" not in listed.context["cl"].model_admin.get_actions(listed.wsgi_request)
    admin_client.post(changelist, {"action": "delete_selected", "post": "yes",
                                   helpers.ACTION_CHECKBOX_NAME: [record.pk]})
    deleted = admin_client.post(reverse(f"admin:vemrat_pay_{name}_delete", args=[record.pk]),
                                {"post": "yes"})
    assert deleted.status_code == 403
    assert model.objects.filter(pk=record.pk).exists()
    # The payment's callbacks still find it.
    assert payments.deliver_callback(paid).status_code == 200
