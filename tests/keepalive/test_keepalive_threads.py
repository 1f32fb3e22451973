"""Eight threads share the keep-alive opener's connections through one Client: every answer
matches its request (the service echoes each request's own fields), and the pool never held more
connections than threads used at once."""

from test_threads import COMMUNITY_KEY, HTTP_CALLS_PER_THREAD, SPONSOR_KEY, THREADS, echo, run_workers

import vemrat_pay


def test_eight_threads_share_the_pooled_connections(persistent, keep_alive):
    persistent.respond = echo
    run_workers(vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY))
    assert len(persistent.requests) == 2 * THREADS * HTTP_CALLS_PER_THREAD
    # A connection is made only when every pooled one is in use, by at most THREADS threads.
    assert 1 <= persistent.connections <= THREADS
    assert persistent.closed == 0
    assert len(keep_alive.idle_connections()) == persistent.connections
