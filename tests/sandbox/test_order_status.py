import time

import pytest

from wire import Merchant, control, exchange, new_nonce

STATUS_TYPES = {"order_id": str, "pay_status": int, "pay_status_text": str, "settle_status": int,
                "settle_status_text": str, "refund_status": int, "refund_status_text": str,
                "amount": str, "settle_amount": str, "expired": str, "fail_reason": str}


def test_a_new_order_reports_all_eleven_fields(merchant):
    order_id = merchant.new_order(amount="10")
    data = merchant.query(order_id).data

    assert list(data) == list(STATUS_TYPES)
    for name, kind in STATUS_TYPES.items():
        assert type(data[name]) is kind, name
    assert data["order_id"] == order_id
    assert (data["pay_status"], data["pay_status_text"]) == (0, "pending")
    assert (data["settle_status"], data["settle_status_text"]) == (0, "unsettled")
    assert (data["refund_status"], data["refund_status_text"]) == (0, "none")
    assert (data["amount"], data["settle_amount"], data["fail_reason"]) == ("10.00", "0.00", "")
    expires = time.mktime(time.strptime(data["expired"], "%Y-%m-%dT%H:%M:%SZ")) - time.timezone
    assert 0 < expires - time.time() <= 1800


@pytest.mark.parametrize("actions, expected", [
    (["pay"], dict(pay_status=1, pay_status_text="paid")),
    (["fail"], dict(pay_status=2, pay_status_text="failed",
                    fail_reason="payment declined by the payer")),
    (["expire"], dict(pay_status=3, pay_status_text="expired", fail_reason="order expired")),
    (["pay", "settle"], dict(settle_status=1, settle_status_text="settled",
                             settle_amount="10.00")),
    (["pay", "refund"], dict(refund_status=1, refund_status_text="refunded")),
])
def test_the_status_follows_the_order(sandbox, merchant, actions, expected):
    order_id = merchant.new_order(amount="10")
    for action in actions:
        assert control(sandbox.base_url, order_id, action).status == 200
    data = merchant.query(order_id).data
    assert {name: data[name] for name in expected} == expected


@pytest.mark.parametrize("options, status, detail", [
    (dict(signature="0" * 64), 401, "invalid signature"),
    (dict(signature="A" * 64), 401,
     "invalid signature: must be 64 lower-case hexadecimal characters"),
    (dict(sponsor_key="sk-two"), 401, "invalid signature"),
    (dict(timestamp="{old}"), 401, "stale timestamp: more than 300 s in the past"),
    (dict(timestamp="{future}"), 401, "stale timestamp: more than 300 s in the future"),
    (dict(nonce="xyz"), 400, "invalid nonce: must be 32 lower-case hexadecimal characters"),
])
def test_bad_queries_are_refused(merchant, options, status, detail):
    order_id = merchant.new_order()
    now = int(time.time())
    if "timestamp" in options:
        # Far outside the 300 s window, so that a slow machine's delay before the sandbox reads
        # its clock cannot bring the timestamp back inside it.
        options["timestamp"] = options["timestamp"].format(old=now - 900, future=now + 900)
    answer = merchant.query(order_id, **options)
    assert (answer.status, answer.detail) == (status, detail)


def test_the_signature_covers_each_part(merchant):
    order_id = merchant.new_order()
    timestamp, nonce = str(int(time.time())), new_nonce()
    good = merchant.status_url(order_id, timestamp=timestamp, nonce=nonce)
    tampered = [good.replace(f"order_id={order_id}", f"order_id={order_id}x"),
                good.replace(f"nonce={nonce}", f"nonce={new_nonce()}"),
                good.replace(f"timestamp={timestamp}", f"timestamp={int(timestamp) - 1}")]
    for url in tampered:
        answer = exchange(url)
        assert (answer.status, answer.detail) == (401, "invalid signature")
    assert exchange(good).status == 200


def test_an_unknown_community_key_is_refused(sandbox):
    stranger = Merchant(sandbox.base_url, "nobody", "sk-one")
    answer = stranger.query("VP00")
    assert (answer.status, answer.detail) == (401, "unknown community key")


def test_the_order_id_is_signed_raw_and_sent_encoded(merchant):
    # Reaching the order lookup shows that the signature over the raw id matched.
    answer = merchant.query("A 1&x=é/?")
    assert (answer.status, answer.detail) == (404, "unknown order")


def test_another_merchants_order_is_unknown(sandbox, merchant):
    order_id = merchant.new_order()
    other = Merchant(sandbox.base_url, "ck-two", "sk-two")
    answer = other.query(order_id)
    assert (answer.status, answer.detail) == (404, "unknown order")


def test_a_replayed_query_is_refused(merchant):
    order_id = merchant.new_order()
    url = merchant.status_url(order_id)
    assert exchange(url).status == 200
    answer = exchange(url)
    assert (answer.status, answer.detail) == (401, "replayed nonce")


def test_a_payment_nonce_cannot_be_replayed_as_a_query(merchant):
    nonce = new_nonce()
    order_id = merchant.new_order(nonce=nonce)
    answer = merchant.query(order_id, nonce=nonce)
    assert (answer.status, answer.detail) == (401, "replayed nonce")
