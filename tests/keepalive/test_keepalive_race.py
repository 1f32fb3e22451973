"""The race of every reused connection: the server closes it, without saying so, just after its
answer, and the next request is written before the close arrives. An idempotent request whose
connection ended before any byte of its answer arrived goes once more on a new connection; a
POST never does."""

import pytest
from closing_servers import CLOSING, UNTIL_THE_NEXT_REQUEST, close_after_each_answer
from keepalive_support import OPERATIONS

RUNS = 20
CALLS_PER_RUN = 5

each_closing_server = pytest.mark.parametrize("delay", CLOSING.values(), ids=CLOSING.keys())
each_scheme = pytest.mark.parametrize("scheme", ["http", "https"])


@pytest.fixture
def closing_server(start_service, trust_test_ca, install, monkeypatch):
    """closing_server(scheme, delay) starts a service that closes each connection after one
    answer, `delay` seconds later, and whose HTTP/1.1 answers do not announce it, and installs
    the keep-alive opener for it; returns the server and its HeldClose."""

    def start(scheme, delay):
        server = start_service(scheme)
        held = close_after_each_answer(server, delay)
        monkeypatch.setenv("VEMRAT_PAY_BASE_URL", server.url)
        install()
        return server, held

    return start


@each_scheme
@each_closing_server
def test_queries_never_fail(closing_server, client, scheme, delay):
    server, held = closing_server(scheme, delay)
    failed_runs = []
    for run in range(RUNS):
        try:
            for _ in range(CALLS_PER_RUN):
                assert client.query_order("Q1").order_id == "Q1"
        except OSError as error:
            failed_runs.append((run, repr(error)))
    assert failed_runs == []
    calls = RUNS * CALLS_PER_RUN
    assert len(server.requests) == server.connections == calls
    if delay is UNTIL_THE_NEXT_REQUEST:
        # Every call after the first lost the race, and went once more on a new connection.
        assert held.unread == calls - 1


@each_scheme
def test_payment_that_lost_the_race_is_not_sent_again(closing_server, client, scheme):
    server, held = closing_server(scheme, UNTIL_THE_NEXT_REQUEST)
    OPERATIONS["create_payment"](client)
    # urllib's URLError when the close came while the request was being written, else the
    # connection's own error: either way an OSError, and the payment is not sent again.
    with pytest.raises(OSError):
        OPERATIONS["create_payment"](client)
    assert held.unread == 1
    assert [request.method for request in server.requests] == ["POST"]
    assert server.connections == 1
