import logging
import uuid

from django.db import IntegrityError
from django.http import HttpRequest, HttpResponse, HttpResponseBadRequest
from django.shortcuts import get_object_or_404, redirect, render
from django.urls import reverse
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_GET, require_http_methods, require_POST

from .forms import CheckoutForm
from .models import Order
from .order_updates import apply_callback, apply_status
from .payments import SIGNATURE_HEADER, is_timeout, payment_client

logger = logging.getLogger(__name__)

Pay = Order.PayStatus


def problem(request: HttpRequest, status: int, title: str, message: str,
            order: Order | None = None) -> HttpResponse:
    return render(request, "shop/problem.html",
                  {"title": title, "message": message, "order": order}, status=status)


@require_http_methods(["GET", "POST"])
def checkout(request: HttpRequest) -> HttpResponse:
    if request.method == "GET":
        form = CheckoutForm(initial={"reference": uuid.uuid4()})
        return render(request, "shop/checkout.html", {"form": form})
    form = CheckoutForm(request.POST)
    if not form.is_valid():
        return render(request, "shop/checkout.html", {"form": form}, status=400)
    data = form.cleaned_data
    reference = data["reference"] or uuid.uuid4()

    existing = Order.objects.filter(reference=reference).first()
    if existing is not None:
        return resubmitted_checkout(request, existing)
    try:
        order = Order.objects.create(reference=reference, amount=data["amount"],
                                     currency=data["currency"], recipient=data["recipient"])
    except IntegrityError:  # the same form, posted twice at once
        return resubmitted_checkout(request, Order.objects.get(reference=reference))

    notify_url = request.build_absolute_uri(reverse("shop:callback"))
    return_url = request.build_absolute_uri(reverse("shop:order", args=[order.reference]))
    try:
        # Two decimals survive the float: its shortest text is the same decimal.
        payment = payment_client().create_payment(
            float(order.amount), order.currency, order.recipient, notify_url,
            return_url=return_url)
    except RuntimeError as refused:
        # The service answered and created nothing: the payer may simply try again.
        logger.warning("payment refused for %s: %s", order.reference, refused)
        order.delete()
        return problem(request, 502, "Payment not created", str(refused))
    except OSError as error:
        # The request is bounded by socket.setdefaulttimeout (see shop.apps). A timeout, or a
        # connection lost midway, does not say whether the service created the order, so the
        # order is kept as unconfirmed and never created again blindly.
        order.pay_status = Pay.UNCONFIRMED
        order.save(update_fields=["pay_status", "updated"])
        if is_timeout(error):
            logger.warning("payment request for %s timed out: %s", order.reference, error)
            return problem(request, 504, "Payment service did not answer",
                           "We cannot tell whether your payment was set up. Nothing will be "
                           "charged twice: please check your orders before paying again.", order)
        logger.warning("payment request for %s failed: %s", order.reference, error)
        return problem(request, 502, "Payment service unreachable",
                       "Your payment could not be set up. Please try again later.", order)

    order.order_id = payment.order_id
    order.pay_url = payment.pay_url
    order.pay_status = Pay.PENDING
    order.save(update_fields=["order_id", "pay_url", "pay_status", "updated"])
    return redirect(payment.pay_url)


def resubmitted_checkout(request: HttpRequest, order: Order) -> HttpResponse:
    """A form posted again (a double click, a reload): never a second payment."""
    if not order.order_id:
        # Its payment request is still running or got no answer: only the service knows.
        return problem(request, 409, "Checkout not confirmed",
                       "This checkout has not been confirmed by the payment service. "
                       "Please start a new checkout.", order)
    try:
        apply_status(order, payment_client().query_order(order.order_id))
    except (RuntimeError, OSError) as error:
        logger.warning("status query for %s failed: %s", order.order_id, error)
        return redirect("shop:order", reference=order.reference)
    if order.pay_status == Pay.PENDING:
        return redirect(order.pay_url)
    return redirect("shop:order", reference=order.reference)


@csrf_exempt  # authenticated by its signature instead
@require_POST
def callback(request: HttpRequest) -> HttpResponse:
    try:
        # The raw body exactly as it arrived: re-serialised JSON would not match its signature.
        body = request.body.decode("utf-8")
        fields = payment_client().verify_callback(body, request.headers.get(SIGNATURE_HEADER, ""))
    except (RuntimeError, UnicodeDecodeError) as error:
        logger.warning("callback refused: %s", error)
        return HttpResponseBadRequest("invalid callback")
    apply_callback(fields)
    return HttpResponse("ok", content_type="text/plain")


@require_GET
def order_page(request: HttpRequest, reference: uuid.UUID) -> HttpResponse:
    order = get_object_or_404(Order, reference=reference)
    status = None
    unavailable = ""
    if order.order_id:
        try:
            status = payment_client().query_order(order.order_id)
        except (RuntimeError, OSError) as error:
            logger.warning("status query for %s failed: %s", order.order_id, error)
            unavailable = "The payment service cannot be reached right now; shown is what we last heard."
        else:
            apply_status(order, status)
    return render(request, "shop/order.html",
                  {"order": order, "status": status, "unavailable": unavailable})
