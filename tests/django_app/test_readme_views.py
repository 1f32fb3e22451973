"""The shop views of the app's README, run as they are written: every status has its page, a
second click never starts a second order, and the return page shows what the service says."""

from __future__ import annotations

import re
import sys
import types
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest
from django.test import Client
from django.urls import include, path
from vemrat_pay_django.models import Payment
from vemrat_pay_django.testing import PaymentSandbox

README = Path(__file__).resolve().parents[2] / "python" / "vemrat_pay_django" / "README.md"
MARK = "# views.py: starting a payment, and the page the payer returns to"

pytestmark = pytest.mark.django_db(transaction=True)


def readme_views() -> types.ModuleType:
    blocks = re.findall(r"^```python\n(.*?)^```", README.read_text(encoding="utf-8"),
                        re.MULTILINE | re.DOTALL)
    (source,) = [block for block in blocks if block.startswith(MARK)]
    views = types.ModuleType("readme_views")
    exec(compile(source, str(README), "exec"), views.__dict__)
    return views


@pytest.fixture
def shop(settings: Any) -> Iterator[Client]:
    views = readme_views()
    urls = types.ModuleType("readme_urls")
    urls.urlpatterns = [  # type: ignore[attr-defined]
        path("checkout/", views.checkout, name="checkout"),
        path("pay/<uuid:reference>/", views.pay, name="pay"),
        path("paid/<uuid:reference>/", views.payment_return, name="payment-return"),
        path("vemrat-pay/", include("vemrat_pay_django.urls")),
    ]
    sys.modules["readme_urls"] = urls
    settings.ROOT_URLCONF = "readme_urls"
    yield Client()
    del sys.modules["readme_urls"]


def pay_url_of(page: str) -> str:
    found = re.search(r'action="([^"]+)"', page)
    assert found, page
    return found.group(1)


def test_a_created_order_sends_the_payer_to_pay_and_the_return_page_refreshes_it(
        payments: PaymentSandbox, shop: Client) -> None:
    click = shop.post(pay_url_of(shop.get("/checkout/").content.decode()))
    payment = Payment.objects.get()
    assert (click.status_code, click["Location"]) == (302, payment.pay_url)
    payments.pay(payment)  # its callback is lost: the return page asks the service itself
    back = shop.get(f"/paid/{payment.reference}/")
    assert (back.status_code, back.content) == (200, b"Paid, thank you.")


def test_an_unconfirmed_payment_is_being_checked_and_never_started_twice(
        payments: PaymentSandbox, shop: Client) -> None:
    payments.sandbox.add_fault("timeout_after_commit", "payment", seconds=0)
    pay = pay_url_of(shop.get("/checkout/").content.decode())
    first = shop.post(pay)
    payment = Payment.objects.get()
    assert payment.status == Payment.Status.UNCONFIRMED
    assert first["Location"] == f"/paid/{payment.reference}/"
    page = shop.get(first["Location"])
    assert page.status_code == 202
    assert b"being checked" in page.content and b'http-equiv="refresh"' in page.content
    assert b"Pay" not in page.content

    second = shop.post(pay)  # the payer clicks again
    assert second["Location"] == first["Location"]
    assert len(payments.sandbox.orders()) == 1 and Payment.objects.count() == 1

    payments.pay(payment)
    payments.deliver_callback(payment)
    assert shop.get(first["Location"]).content == b"Paid, thank you."


def test_a_refused_payment_offers_a_new_start(payments: PaymentSandbox, shop: Client) -> None:
    payments.sandbox.add_fault("error", "payment", status=400, detail="account frozen")
    pay = pay_url_of(shop.get("/checkout/").content.decode())
    page = shop.get(shop.post(pay)["Location"])
    assert page.status_code == 200
    assert b"Not paid: HTTP 400" in page.content and b'href="/checkout/"' in page.content
    again = pay_url_of(shop.get("/checkout/").content.decode())
    assert again != pay
    assert shop.post(again)["Location"] == Payment.objects.get(
        status=Payment.Status.PENDING).pay_url
