"""The callback endpoint: the service's report that something happened to an order."""

from __future__ import annotations

import uuid

from django.db import transaction
from django.http import HttpRequest, HttpResponse
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_POST

from .callback_handling import handle_callback
from .conf import get_setting
from .models import CallbackEvent

# What each outcome answers. A 5xx asks the service to deliver the callback again later.
ANSWERS: dict[str, tuple[int, str]] = {
    CallbackEvent.Outcome.REFUSED: (400, "invalid callback"),
    CallbackEvent.Outcome.MISMATCH: (400, "callback does not match the payment"),
    CallbackEvent.Outcome.UNKNOWN_PAYMENT: (404, "unknown payment"),
    CallbackEvent.Outcome.UNAVAILABLE: (503, "payment service unavailable, try again later"),
    CallbackEvent.Outcome.CHANGED: (200, "ok"),
    CallbackEvent.Outcome.UNCHANGED: (200, "ok"),
}


@csrf_exempt  # authenticated by its signature instead
@require_POST
@transaction.non_atomic_requests  # the event is kept whatever happens after it is recorded
def callback(request: HttpRequest, reference: uuid.UUID) -> HttpResponse:
    event = handle_callback(reference, request.body,
                            request.headers.get(get_setting("SIGNATURE_HEADER"), ""))
    status, text = ANSWERS[event.outcome]
    return HttpResponse(text, status=status, content_type="text/plain; charset=utf-8")
