"""Leak soak: every operation of vemrat_pay, on its success path and on each failure path, many
times over against an in-process stand-in for urllib.request.urlopen.

Fails (exit 1) when resident memory grows by more than a small bound after a warm-up, or when
the reference counts of the arguments, of the stub's reused answer bodies or of a reused result
change. Prints the number of calls and the resident memory before and after.

    python bench/soak.py            # the full run
    python bench/soak.py --short    # the CI form
"""

import argparse
import gc
import hashlib
import hmac
import io
import os
import sys
import tempfile
import time
import urllib.error
import urllib.request

import vemrat_pay

COMMUNITY_KEY = "community-soak-key"
SPONSOR_KEY = "sponsor-soak-key-with-some-length"
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
# Allowed growth of resident memory between the end of the warm-up and the end of the run.
RSS_BOUND = 4 * 1024 * 1024


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE_SIZE


def sign(body):
    return hmac.new(SPONSOR_KEY.encode(), body.encode(), hashlib.sha256).hexdigest()


class Answer:
    """What urlopen returns: a status and a body that stay the same objects on every call."""

    def __init__(self, status, body):
        self.status = status
        self.body = body

    def getcode(self):
        return self.status

    def read(self):
        return self.body


PAYMENT_OK = Answer(200, b'{"data":{"order_id":"ORD-1","pay_url":"https://pay.example/ORD-1"}}')
STATUS_OK = Answer(
    200,
    b'{"data":{"order_id":"ORD-1","pay_status":1,"pay_status_text":"paid","settle_status":0,'
    b'"settle_status_text":"","refund_status":0,"refund_status_text":"","amount":"10",'
    b'"settle_amount":"0","expired":"","fail_reason":""}}',
)
SERVER_ERROR = Answer(500, b"Internal Server Error")
NOT_JSON = Answer(200, b'{"data": ')
DETAIL = Answer(200, b'{"detail":"order not found","data":{}}')
NO_DATA = Answer(200, b'{"result":1}')
NOT_FOUND_BODY = b'{"detail":"Not found."}'

answer = PAYMENT_OK


def stub_urlopen(request):
    if answer is None:
        raise urllib.error.HTTPError(request.full_url, 404, "Not Found", {}, io.BytesIO(NOT_FOUND_BODY))
    if answer is URL_ERROR:
        raise urllib.error.URLError("connection refused")
    return answer


CALLBACK_BODY = '{"status":"paid","order_id":"ORD-1","amount":"10.00","settle_amount":"9.70","reason":"","expired":"0"}'
CALLBACK_SIGNATURE = sign(CALLBACK_BODY)
BAD_JSON_BODY = '{"status": "paid",'
BAD_JSON_SIGNATURE = sign(BAD_JSON_BODY)
WRONG_SIGNATURE = "0" * 64
AMOUNT = 10.5
CURRENCY = "CNY"
ACCOUNT = "recipient@example.com"
NOTIFY_URL = "https://shop.example/pay/callback?x=1&y=2"
ORDER_ID = "ORD-1"
URL_ERROR = "url-error"  # a fresh URLError each time: a reused one would grow its traceback


def expect(exception_class, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exception_class:
        return
    raise AssertionError(f"{call} did not raise {exception_class.__name__}")


def scenarios(client, key_dir, empty_dir, reused):
    """(name, answer or None, function) for every path; each function runs one call."""

    def create_ok():
        result = client.create_payment(AMOUNT, CURRENCY, ACCOUNT, NOTIFY_URL, pay_mode="direct", return_url=NOTIFY_URL)
        assert result.order_id == ORDER_ID

    def query_ok():
        status = client.query_order(ORDER_ID)
        assert status.pay_status == 1

    def verify_ok():
        fields = client.verify_callback(CALLBACK_BODY, CALLBACK_SIGNATURE)
        assert fields["order_id"] == ORDER_ID

    def from_key_file():
        os.chdir(key_dir)
        try:
            assert vemrat_pay.Client().verify_callback(CALLBACK_BODY, CALLBACK_SIGNATURE)["status"] == "paid"
        finally:
            os.chdir(start_dir)

    def missing_key_file():
        os.chdir(empty_dir)
        try:
            expect(RuntimeError, vemrat_pay.Client)
        finally:
            os.chdir(start_dir)

    def reuse_result():
        assert reused.order_id == ORDER_ID and reused.pay_url
        repr(reused)

    start_dir = os.getcwd()
    create = client.create_payment
    query = client.query_order
    verify = client.verify_callback
    return [
        ("create_payment success", PAYMENT_OK, create_ok),
        ("query_order success", STATUS_OK, query_ok),
        ("verify_callback success", None, verify_ok),
        ("Client(keys)", None, lambda: vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)),
        ("Client() from a key file", None, from_key_file),
        ("Client() missing key file", None, missing_key_file),
        ("reused result", None, reuse_result),
        ("binding: too many", None, lambda: expect(TypeError, query, ORDER_ID, ORDER_ID)),
        ("binding: missing", None, lambda: expect(TypeError, create, AMOUNT, CURRENCY)),
        ("binding: unexpected keyword", None, lambda: expect(TypeError, verify, CALLBACK_BODY, signatur=ORDER_ID)),
        ("binding: multiple values", None, lambda: expect(TypeError, vemrat_pay.Client, COMMUNITY_KEY, community_key=SPONSOR_KEY)),
        ("wrong type: order_id", None, lambda: expect(TypeError, query, 5)),
        ("wrong type: amount", None, lambda: expect(TypeError, create, "10", CURRENCY, ACCOUNT, NOTIFY_URL)),
        ("wrong type: return_url", None, lambda: expect(TypeError, create, AMOUNT, CURRENCY, ACCOUNT, NOTIFY_URL, "split", b"x")),
        ("wrong type: body", None, lambda: expect(TypeError, verify, CALLBACK_BODY.encode(), CALLBACK_SIGNATURE)),
        ("wrong type: key", None, lambda: expect(TypeError, vemrat_pay.Client, COMMUNITY_KEY, 7)),
        ("lone surrogate", None, lambda: expect(UnicodeEncodeError, query, "\udc80")),
        ("HTTP 404 (HTTPError)", "http-error", lambda: expect(RuntimeError, query, ORDER_ID)),
        ("HTTP 500", SERVER_ERROR, lambda: expect(RuntimeError, create, AMOUNT, CURRENCY, ACCOUNT, NOTIFY_URL)),
        ("URLError", URL_ERROR, lambda: expect(urllib.error.URLError, query, ORDER_ID)),
        ("invalid JSON answer", NOT_JSON, lambda: expect(RuntimeError, create, AMOUNT, CURRENCY, ACCOUNT, NOTIFY_URL)),
        ("detail answer", DETAIL, lambda: expect(RuntimeError, query, ORDER_ID)),
        ("missing data", NO_DATA, lambda: expect(RuntimeError, query, ORDER_ID)),
        ("bad signature", None, lambda: expect(RuntimeError, verify, CALLBACK_BODY, WRONG_SIGNATURE)),
        ("invalid JSON callback", None, lambda: expect(RuntimeError, verify, BAD_JSON_BODY, BAD_JSON_SIGNATURE)),
    ]


def watched_objects(client, reused):
    return {
        "client": client,
        "reused result": reused,
        "reused order_id": reused.order_id,
        "amount": AMOUNT,
        "currency": CURRENCY,
        "account": ACCOUNT,
        "notify_url": NOTIFY_URL,
        "order_id": ORDER_ID,
        "callback body": CALLBACK_BODY,
        "callback signature": CALLBACK_SIGNATURE,
        "bad JSON body": BAD_JSON_BODY,
        "wrong signature": WRONG_SIGNATURE,
        "payment answer body": PAYMENT_OK.body,
        "status answer body": STATUS_OK.body,
        "500 answer body": SERVER_ERROR.body,
    }


def run_round(steps, repeats):
    global answer
    calls = 0
    for _name, step_answer, step in steps:
        answer = None if step_answer == "http-error" else step_answer if step_answer is not None else PAYMENT_OK
        for _ in range(repeats):
            step()
        calls += repeats
    return calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--short", action="store_true", help="a short run for CI")
    options = parser.parse_args()
    repeats, rounds = (400, 4) if options.short else (4000, 10)

    global answer
    urllib.request.urlopen = stub_urlopen
    os.environ["VEMRAT_PAY_BASE_URL"] = "https://service.invalid"
    os.environ.pop("IS_LAN", None)
    os.environ.pop("DJANGO_SETTINGS_MODULE", None)
    client = vemrat_pay.Client(COMMUNITY_KEY, SPONSOR_KEY)
    answer = PAYMENT_OK
    reused = client.create_payment(AMOUNT, CURRENCY, ACCOUNT, NOTIFY_URL)

    with tempfile.TemporaryDirectory() as key_dir, tempfile.TemporaryDirectory() as empty_dir:
        with open(os.path.join(key_dir, "auth_key.py"), "w") as key_file:
            key_file.write(f'COMMUNITY_KEY = "{COMMUNITY_KEY}"\nSPONSOR_KEY = \'{SPONSOR_KEY}\'\n')
        steps = scenarios(client, key_dir, empty_dir, reused)

        started = time.perf_counter()
        calls = run_round(steps, repeats)  # warm-up: caches, arenas, interned names
        gc.collect()
        watched = watched_objects(client, reused)
        counts_before = {name: sys.getrefcount(value) for name, value in watched.items()}
        rss_before = resident_bytes()
        for _ in range(rounds):
            calls += run_round(steps, repeats)
        gc.collect()
        rss_after = resident_bytes()
        counts_after = {name: sys.getrefcount(value) for name, value in watched.items()}
        elapsed = time.perf_counter() - started

    growth = rss_after - rss_before
    print(f"scenarios: {len(steps)}, calls: {calls} in {elapsed:.1f} s")
    print(f"RSS before: {rss_before / 2**20:.1f} MiB, after: {rss_after / 2**20:.1f} MiB, growth: {growth / 1024:.0f} KiB")
    failures = [f"{name}: reference count {counts_before[name]} -> {counts_after[name]}"
                for name in watched if counts_before[name] != counts_after[name]]
    if growth > RSS_BOUND:
        failures.append(f"resident memory grew by {growth} bytes (bound {RSS_BOUND})")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
