"""The callback endpoint: the service's report that something happened to an order."""

from __future__ import annotations

import hashlib
import logging
import uuid

from django.db import DatabaseError, transaction
from django.http import HttpRequest, HttpResponse
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_POST
from vemrat_pay_ledger.callbacks import ANSWERS, Outcome

from .conf import get_setting
from .ledger import get_ledger

logger = logging.getLogger("vemrat_pay_django")


@csrf_exempt  # authenticated by its signature instead
@require_POST
@transaction.non_atomic_requests  # the event is kept whatever happens after it is recorded
def callback(request: HttpRequest, reference: uuid.UUID) -> HttpResponse:
    body = request.body
    try:
        outcome = get_ledger().handle_callback(
            reference, body, request.headers.get(get_setting("SIGNATURE_HEADER"), "")).outcome
    except DatabaseError:
        # Not even the request could be recorded: the service is asked to deliver it again.
        logger.exception("callback for %s (%d bytes, sha256 %s) could not be recorded",
                         reference, len(body), hashlib.sha256(body).hexdigest())
        outcome = Outcome.UNVERIFIABLE
    status, text = ANSWERS[outcome]
    return HttpResponse(text, status=status, content_type="text/plain; charset=utf-8")
