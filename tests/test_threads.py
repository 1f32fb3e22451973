"""One shared Client used by eight threads at once against a local threaded HTTP server.

The server echoes parts of each request into its answer, so every answer can be matched to the
call that asked for it; every request must carry its own nonce and a valid signature."""

import hashlib
import hmac
import json
import threading
import urllib.parse

import pytest
from service_fixture import Answer

import vemrat_pay

THREADS = 8
HTTP_CALLS_PER_THREAD = 250  # of each of create_payment and query_order
CALLBACKS_PER_THREAD = 1000
JOIN_TIMEOUT = 120
COMMUNITY_KEY = "community-threads"
SPONSOR_KEY = "sponsor-threads-secret"


def signature(message):
    return hmac.new(SPONSOR_KEY.encode(), message.encode(), hashlib.sha256).hexdigest()


def echo(request):
    """The payment answer names the account and nonce of the form; the status answer names the
    order id and nonce of the query, and says whether its signature was right."""
    if request.method == "POST":
        form = dict(urllib.parse.parse_qsl(request.body.decode("ascii"), keep_blank_values=True))
        data = {"order_id": form["recipient_account"], "pay_url": form["nonce"]}
    else:
        query = dict(urllib.parse.parse_qsl(request.query, keep_blank_values=True))
        expected = signature(query["community_key"] + query["timestamp"] + query["nonce"] + query["order_id"])
        data = {
            "order_id": query["order_id"],
            "pay_status_text": query["nonce"],
            "pay_status": 1 if hmac.compare_digest(expected, query["signature"]) else 0,
        }
    return Answer(200, json.dumps({"data": data}).encode())


def worker(client, index, failures):
    try:
        for call in range(HTTP_CALLS_PER_THREAD):
            account = f"acct-{index}-{call}-é"
            paid = client.create_payment(10.0 + call, "CNY", account, "https://shop.test/cb")
            if paid.order_id != account or len(paid.pay_url) != 32:
                failures.append(f"create_payment {account}: {paid!r}")
            order = f"order {index}/{call}"
            status = client.query_order(order)
            if status.order_id != order or status.pay_status != 1 or len(status.pay_status_text) != 32:
                failures.append(f"query_order {order}: {status!r}")
        for call in range(CALLBACKS_PER_THREAD):
            body = json.dumps({"order_id": f"cb-{index}-{call}", "status": "paid", "amount": str(call)})
            if call % 10 == 9:
                with pytest.raises(RuntimeError, match="^Invalid callback signature$"):
                    client.verify_callback(body, signature(body + " "))
                continue
            fields = client.verify_callback(body, signature(body))
            if fields != {"status": "paid", "order_id": f"cb-{index}-{call}", "amount": str(call)}:
                failures.append(f"verify_callback {body}: {fields!r}")
    except BaseException as error:  # noqa: BLE001 - reported by the main thread
        failures.append(f"thread {index}: {type(error).__name__}: {error}")


def run_workers(client):
    """Runs `worker` on THREADS threads sharing `client`; asserts that each finished without failure."""
    failures = []
    threads = [threading.Thread(target=worker, args=(client, index, failures), daemon=True) for index in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(JOIN_TIMEOUT)
    assert not [thread for thread in threads if thread.is_alive()], "a thread did not finish: deadlock or hang"
    assert failures == []


def test_one_client_shared_by_eight_threads(served):
    served.respond = echo
    run_workers(vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY))

    requests = served.requests
    assert len(requests) == 2 * THREADS * HTTP_CALLS_PER_THREAD
    nonces = []
    for request in requests:
        fields = request.form() if request.method == "POST" else urllib.parse.parse_qsl(request.query)
        nonces.append(dict(fields)["nonce"])
    assert len(set(nonces)) == len(nonces), "a nonce was used twice"
    assert all(len(nonce) == 32 and set(nonce) <= set("0123456789abcdef") for nonce in nonces)
