"""What the keep-alive tests share: the answers of the scripted service and the two operations."""

import json

import pytest
from service_fixture import Answer

from vemrat_pay_keepalive.connections import PooledConnection, PooledHTTPSConnection
from vemrat_pay_keepalive.pool import Route

PAYMENT_ANSWER = Answer(200, json.dumps({"data": {"order_id": "P1", "pay_url": "https://pay.test/P1"}}).encode())
STATUS_ANSWER = Answer(200, json.dumps({"data": {"order_id": "Q1", "pay_status": 1}}).encode())

OPERATIONS = {
    "create_payment": lambda client: client.create_payment(10, "CNY", "acct", "https://shop.test/cb"),
    "query_order": lambda client: client.query_order("Q1"),
}
each_operation = pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())


def answer_each(request):
    """The answer each operation expects: an order for a POST, a status for a GET."""
    return PAYMENT_ANSWER if request.method == "POST" else STATUS_ANSWER


def call_both(client, times):
    for _ in range(times):
        assert OPERATIONS["create_payment"](client).order_id == "P1"
        assert OPERATIONS["query_order"](client).pay_status == 1


def route_of(server):
    """The pool's route to a server reached directly."""
    connection_class = PooledHTTPSConnection if server.scheme == "https" else PooledConnection
    return Route(connection_class, f"127.0.0.1:{server.port}", None)
