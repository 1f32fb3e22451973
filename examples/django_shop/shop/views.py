import http.client
import uuid

from django.http import HttpRequest, HttpResponse
from django.shortcuts import get_object_or_404, redirect, render
from django.urls import reverse
from django.views.decorators.http import require_GET, require_http_methods
from vemrat_pay_django.models import Payment
from vemrat_pay_django.payments import refresh_payment, start_payment
from vemrat_pay_django.updates import OrderMismatch, ReferenceConflict

from .forms import CheckoutForm

Status = Payment.Status


def problem(request: HttpRequest, status: int, title: str, message: str,
            payment: Payment | None = None) -> HttpResponse:
    return render(request, "shop/problem.html",
                  {"title": title, "message": message, "payment": payment}, status=status)


@require_http_methods(["GET", "POST"])
def checkout(request: HttpRequest) -> HttpResponse:
    if request.method == "GET":
        form = CheckoutForm(initial={"reference": uuid.uuid4()})
        return render(request, "shop/checkout.html", {"form": form})
    form = CheckoutForm(request.POST)
    if not form.is_valid():
        return render(request, "shop/checkout.html", {"form": form}, status=400)
    data = form.cleaned_data
    # The form's reference makes a form posted twice (a double click, a reload) find its
    # payment instead of starting a second one.
    reference = data["reference"] or uuid.uuid4()
    try:
        payment = start_payment(data["amount"], currency=data["currency"],
                                recipient_account=data["recipient"],
                                return_url=reverse("shop:order", args=[reference]),
                                request=request, reference=reference)
    except ReferenceConflict:
        return problem(request, 409, "Payment already started",
                       "This checkout was already sent with other details. Start a new "
                       "checkout to pay.")
    if payment.status == Status.PENDING:
        return redirect(payment.pay_url)
    if payment.status == Status.FAILED:
        return problem(request, 502, "Payment not created", payment.fail_reason, payment)
    if payment.status in (Status.CREATING, Status.UNCONFIRMED):
        return problem(request, 504, "Payment service did not answer",
                       "We cannot tell yet whether your payment was set up. Nothing will be "
                       "charged twice: your order page shows it as soon as we know.", payment)
    return redirect("shop:order", reference=payment.reference)


@require_GET
def order_page(request: HttpRequest, reference: uuid.UUID) -> HttpResponse:
    payment = get_object_or_404(Payment, reference=reference)
    unavailable = ""
    try:
        refresh_payment(payment)
    except (RuntimeError, OSError, http.client.HTTPException, OrderMismatch):
        unavailable = "The payment service cannot be reached right now; shown is what we last heard."
    return render(request, "shop/order.html", {"payment": payment, "unavailable": unavailable})
