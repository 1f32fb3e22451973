"""The shipped migrations match the models."""

import io
import uuid
from decimal import Decimal

import pytest
from django.core.management import call_command
from django.db import connection
from django.db.migrations.executor import MigrationExecutor
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import start_payment
from vemrat_pay_django.testing import PaymentSandbox

from conftest import Announcements


@pytest.mark.django_db
def test_the_migrations_match_the_models() -> None:
    out = io.StringIO()
    call_command("makemigrations", "vemrat_pay", "--check", "--dry-run", stdout=out)
    assert "No changes detected" in out.getvalue()


@pytest.mark.django_db(transaction=True)
def test_a_payment_failed_by_a_spoiled_answer_is_not_final_after_the_upgrade(
        payments: PaymentSandbox, announced: Announcements) -> None:
    """Payments stored before the ledger: a `failed` that only a create call inferred (here
    a proxy's 502 after the service stored the order) becomes paid once reconcile asks."""
    # The order the shop believed failed is paid at the service.
    lost = start_payment(Decimal("70.00"), currency="CNY", recipient_account="2088000000000001")
    payments.pay(lost)
    Payment.objects.all().delete()
    executor = MigrationExecutor(connection)
    executor.migrate([("vemrat_pay", "0001_initial")])
    old = executor.loader.project_state([("vemrat_pay", "0001_initial")]).apps.get_model(
        "vemrat_pay", "Payment")
    rows = [("inferred", "failed", "HTTP 502: <html>Bad Gateway</html>", lost.order_id, None, ""),
            ("reported", "failed", "card declined", "VPreported", 2, "card declined"),
            ("paid", "paid", "", "VPpaid", 1, ""),
            ("unconfirmed", "unconfirmed", "", None, None, "")]
    for name, status, reason, order_id, code, service_reason in rows:
        old.objects.create(reference=uuid.uuid5(uuid.NAMESPACE_URL, name), amount=Decimal("70.00"),
                           currency="CNY", callback_url="https://shop.example/cb/", status=status,
                           fail_reason=reason, order_id=order_id, service_pay_status=code,
                           service_fail_reason=service_reason)
    executor = MigrationExecutor(connection)
    executor.loader.build_graph()
    executor.migrate(executor.loader.graph.leaf_nodes("vemrat_pay"))

    confirmed = {str(payment.reference): payment.status_confirmed for payment in Payment.objects.all()}
    assert confirmed == {str(uuid.uuid5(uuid.NAMESPACE_URL, name)): expected for name, expected in
                         (("inferred", False), ("reported", True), ("paid", True),
                          ("unconfirmed", False))}
    out = io.StringIO()
    call_command("vemrat_pay_reconcile", "--older-than", "0", stdout=out)
    assert "2 payments refreshed: 1 changed, 0 unchanged, 0 held, 1 no order id" in out.getvalue()
    inferred = Payment.objects.get(reference=uuid.uuid5(uuid.NAMESPACE_URL, "inferred"))
    assert (inferred.status, inferred.status_confirmed) == (Payment.Status.PAID, True)
    assert announced.of(inferred) == ["paid"]
