"""Schedules of calls and of the server's ways of answering them, drawn by hypothesis, against a
model of when a request goes once more: the calls' outcomes and the requests the server read
must be the model's. The server's ways are all deterministic: it answers and keeps the
connection, answers and closes it when the next request arrives (that request is never read),
hangs up after reading the request, or sends the start of an answer and closes."""

import collections
import dataclasses
import urllib.request

import pytest
from closing_servers import UNTIL_THE_NEXT_REQUEST, HeldClose
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from keepalive_support import OPERATIONS, answer_each
from service_fixture import HANG_UP, Answer, ServiceServer

import vemrat_pay
import vemrat_pay_keepalive

METHODS = {"create_payment": "POST", "query_order": "GET"}
KEEP, CLOSE_ON_NEXT, HANG, PARTIAL = "keep", "close on next", "hang up", "partial"
ANSWERED = "answered"


def answer_in(way, request):
    if way == KEEP:
        return answer_each(request)
    if way == CLOSE_ON_NEXT:
        return dataclasses.replace(answer_each(request), close=True, before_close=HeldClose(UNTIL_THE_NEXT_REQUEST))
    if way == HANG:
        return HANG_UP
    return Answer(0, raw=b"HTTP/1.1 200 OK\r\n", close=True)


def expected(calls, ways):
    """The model: each call's outcome and the methods of the requests the server reads, when it
    answers the requests it reads in the `ways` given, in order."""
    ways = iter(ways)
    outcomes, read = [], []
    pooled = None  # the connection kept after the last call: KEEP or CLOSE_ON_NEXT
    for method in map(METHODS.get, calls):
        reused, pooled = pooled, None
        if reused == CLOSE_ON_NEXT:
            # The request is written and the connection ends: a GET goes once more on a new one.
            if method == "POST":
                outcomes.append(OSError)
                continue
            reused = None
        while True:
            way = next(ways)
            read.append(method)
            # A GET that a reused connection's server read and hung up on goes once more.
            if not (way == HANG and reused is not None and method == "GET"):
                break
            reused = None
        if way in (KEEP, CLOSE_ON_NEXT):
            outcomes.append(ANSWERED)
            pooled = way
        else:
            # A hang-up ends in urllib's RemoteDisconnected; the start of an answer, cut short,
            # reads as an empty body, which the module refuses as JSON.
            outcomes.append(OSError if way == HANG else RuntimeError)
    return outcomes, read


def outcome(call):
    try:
        call()
    except OSError:
        return OSError
    except RuntimeError:
        return RuntimeError
    return ANSWERED


@settings(max_examples=50, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    calls=st.lists(st.sampled_from(list(METHODS)), min_size=1, max_size=8),
    ways=st.lists(st.sampled_from([KEEP, CLOSE_ON_NEXT, HANG, PARTIAL]), min_size=16, max_size=16),
)
def test_schedule_against_the_model(calls, ways):
    server = ServiceServer(keep_alive=True).start()
    pending = collections.deque(ways)
    server.respond = lambda request: answer_in(pending.popleft(), request)
    client = vemrat_pay.Client("ck", "sk")
    pool = vemrat_pay_keepalive.install(server.url)
    try:
        with pytest.MonkeyPatch.context() as patch:
            patch.setenv("VEMRAT_PAY_BASE_URL", server.url)
            outcomes = [outcome(lambda: OPERATIONS[name](client)) for name in calls]
    finally:
        pool.close()
        urllib.request.install_opener(None)
        server.stop()
    assert (outcomes, [request.method for request in server.requests]) == expected(calls, ways)
