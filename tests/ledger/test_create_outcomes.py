"""The one table that classifies how a create call ended, over the module's documented errors
and the exceptions urllib and http.client raise on the way."""

import http.client
import socket
import urllib.error

import pytest
from vemrat_pay_ledger.create_outcomes import CreateOutcome, classify_error

REFUSED, UNCONFIRMED = CreateOutcome.REFUSED, CreateOutcome.UNCONFIRMED


@pytest.mark.parametrize(("error", "outcome"), [
    (RuntimeError('HTTP 400: {"detail":"recipient_account is required"}'), REFUSED),
    (RuntimeError('HTTP 404: {"detail":"unknown merchant"}'), REFUSED),
    (RuntimeError("amount must be positive"), REFUSED),  # the bare detail of a 200 answer
    (RuntimeError(""), REFUSED),  # an empty detail is a refusal too
    (RuntimeError("HTTP 403: <html>Forbidden</html>"), UNCONFIRMED),  # a proxy's page
    (RuntimeError('HTTP 400: {"detail": 5}'), UNCONFIRMED),  # not the service's envelope
    (RuntimeError('HTTP 502: <html>Bad Gateway</html>'), UNCONFIRMED),
    (RuntimeError('HTTP 500: {"detail":"internal error"}'), UNCONFIRMED),
    (RuntimeError('HTTP 201: {"data":{}}'), UNCONFIRMED),
    (RuntimeError('Invalid JSON: EOF while parsing an object at line 1 column 9 | body: {"data":'),
     UNCONFIRMED),
    (RuntimeError("Missing 'data' in response: {}"), UNCONFIRMED),
    (http.client.IncompleteRead(b"{", 10), UNCONFIRMED),
    (http.client.BadStatusLine("HTPT/1.1 200"), UNCONFIRMED),
    (http.client.LineTooLong("header line"), UNCONFIRMED),
    (http.client.RemoteDisconnected("closed"), UNCONFIRMED),
    (urllib.error.URLError(ConnectionRefusedError()), UNCONFIRMED),
    (TimeoutError("timed out"), UNCONFIRMED),
    (socket.timeout("timed out"), UNCONFIRMED),
    (ValueError("unknown url type"), UNCONFIRMED),
    (RecursionError("a RuntimeError of another kind"), UNCONFIRMED),
])
def test_only_the_services_own_refusal_fails_a_payment(error, outcome):
    assert classify_error(error).outcome == outcome
