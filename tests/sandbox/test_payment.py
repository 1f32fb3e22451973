import time

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import Merchant, form_body, new_nonce, record


@pytest.mark.parametrize("pay_mode, recipient", [("split", "payee@example.com"), ("direct", ""),
                                                 ("direct", "ignored@example.com")])
def test_payment_is_created_with_an_order_id_and_a_pay_url(sandbox, merchant, pay_mode, recipient):
    answer = merchant.pay(pay_mode=pay_mode, recipient_account=recipient, amount="19.99")

    assert answer.status == 200
    assert answer.headers.get_content_type() == "application/json"
    assert answer.body.startswith(b'{"data":{')
    data = answer.data
    assert set(data) == {"order_id", "pay_url"}
    assert data["pay_url"] == f"{sandbox.base_url}/pay/{data['order_id']}"
    stored = record(sandbox.base_url, data["order_id"])
    assert (stored["pay_mode"], stored["recipient_account"], stored["amount"]) == \
        (pay_mode, recipient, "19.99")
    assert (stored["pay_status"], stored["settle_status"], stored["refund_status"]) == (0, 0, 0)


def test_form_values_are_percent_decoded(sandbox, merchant):
    notify = "http://127.0.0.1:9/cb?x=1&y=a b+c"
    order_id = merchant.new_order(currency="CNY", recipient_account="zhāng+1@例え.jp",
                                  user_notify_url=notify, return_url="https://shop.example/done")
    stored = record(sandbox.base_url, order_id)
    assert stored["recipient_account"] == "zhāng+1@例え.jp"
    assert stored["user_notify_url"] == notify
    assert stored["return_url"] == "https://shop.example/done"


def test_the_body_the_client_builds_is_accepted_byte_for_byte(merchant):
    body = (f"community_key=ck-one&sponsor_key=sk-one&timestamp={int(time.time())}"
            f"&nonce={new_nonce()}&amount=10&currency=CNY&recipient_account=acct"
            "&user_notify_url=https%3A%2F%2Fshop.example%2Fcb%3Fx%3D1%26y%3D2&pay_mode=split"
            "&return_url=https%3A%2F%2Fshop.example%2Fdone")
    assert merchant.post_form(body).status == 200


@pytest.mark.parametrize("amount, stored", [("10", "10.00"), ("0.1", "0.10"), ("19.99", "19.99"),
                                            ("0.01", "0.01"), ("007.5", "7.50"),
                                            ("999999999999.99", "999999999999.99")])
def test_accepted_amounts_are_stored_with_two_decimals(sandbox, merchant, amount, stored):
    order_id = merchant.new_order(amount=amount)
    assert record(sandbox.base_url, order_id)["amount"] == stored


@pytest.mark.parametrize("amount", ["0", "0.00", "-0", "-2.5", "-10", "NaN", "nan", "inf", "-inf",
                                    "0.30000000000000004", "1.001", "1e3", "1E3", "+5", " 5", "5 ",
                                    "", "ten", "1,5", ".5", "5.", "0x10", "１０"])
def test_bad_amounts_are_refused(merchant, amount):
    answer = merchant.pay(amount=amount)
    assert answer.status == 400
    assert answer.detail.startswith("invalid amount: ")


@pytest.mark.parametrize("amount", ["1000000000000", "1" + "0" * 21])
def test_amounts_above_the_limit_are_refused(merchant, amount):
    answer = merchant.pay(amount=amount)
    assert (answer.status, answer.detail) == (400, f"invalid amount: '{amount}' exceeds 999999999999.99")


# Each check answers its own status and message.
REJECTIONS = [
    ("unknown community key", dict(community_key="nobody"), 401, "unknown community key"),
    ("another merchant's sponsor key", dict(sponsor_key="sk-two"), 401, "wrong sponsor key"),
    ("empty sponsor key", dict(sponsor_key=""), 401, "wrong sponsor key"),
    ("timestamp too old", dict(timestamp=lambda now: str(now - 900)), 401,
     "stale timestamp: more than 300 s in the past"),
    ("timestamp in the future", dict(timestamp=lambda now: str(now + 900)), 401,
     "stale timestamp: more than 300 s in the future"),
    ("timestamp with a fraction", dict(timestamp=lambda now: f"{now}.5"), 400,
     "invalid timestamp: must be whole seconds since 1970 in decimal"),
    ("negative timestamp", dict(timestamp="-1"), 400,
     "invalid timestamp: must be whole seconds since 1970 in decimal"),
    ("upper-case nonce", dict(nonce="ABCDEF0123456789ABCDEF0123456789"), 400,
     "invalid nonce: must be 32 lower-case hexadecimal characters"),
    ("short nonce", dict(nonce="abc"), 400,
     "invalid nonce: must be 32 lower-case hexadecimal characters"),
    ("empty currency", dict(currency=""), 400, "missing currency"),
    ("split without recipient", dict(pay_mode="split", recipient_account=""), 400,
     "recipient_account is required for pay_mode split"),
    ("unknown pay mode", dict(pay_mode="royalty"), 400, "invalid pay_mode: must be split or direct"),
    ("relative notify URL", dict(user_notify_url="/cb"), 400,
     "invalid user_notify_url: must be an absolute http(s) URL"),
    ("ftp notify URL", dict(user_notify_url="ftp://shop.example/cb"), 400,
     "invalid user_notify_url: must be an absolute http(s) URL"),
    ("bad return URL", dict(return_url="javascript:alert(1)"), 400,
     "invalid return_url: must be an absolute http(s) URL"),
    ("missing nonce", dict(nonce=None), 400, "missing field: nonce"),
    ("missing pay mode", dict(pay_mode=None), 400, "missing field: pay_mode"),
]


@pytest.mark.parametrize("overrides, status, detail",
                         [row[1:] for row in REJECTIONS], ids=[row[0] for row in REJECTIONS])
def test_each_check_has_its_own_answer(sandbox, merchant, overrides, status, detail):
    now = int(time.time())
    fields = {name: value(now) if callable(value) else value for name, value in overrides.items()}
    answer = merchant.pay(**fields)
    assert (answer.status, answer.detail) == (status, detail)
    # A 4xx body is compact JSON, as the client shows it in "HTTP {status}: {body}".
    assert answer.body == ('{"detail":"%s"}' % detail).encode()
    assert sandbox.store.orders() == []


def test_the_timestamp_window_is_300_seconds_either_way():
    # A sandbox whose clock stands still: the edges are exact, however long the requests take.
    now = 1_800_000_000
    with Sandbox(merchants={"ck-one": "sk-one"}, clock=lambda: now) as frozen:
        merchant = Merchant(frozen.base_url, "ck-one", "sk-one")
        statuses = {offset: merchant.pay(timestamp=str(now + offset)).status for offset in (-301, -300, 300, 301)}
    assert statuses == {-301: 401, -300: 200, 300: 200, 301: 401}


@pytest.mark.parametrize("body, detail", [
    ("community_key=ck-one&community_key=ck-one", "duplicate field: community_key"),
    ("coupon=1", "unknown field: coupon"),
    ("community_key", "malformed form encoding"),
    ("community_key=%FF", "malformed form encoding"),
    ("", "missing field: community_key"),
])
def test_malformed_forms_are_refused(merchant, body, detail):
    answer = merchant.post_form(body)
    assert (answer.status, answer.detail) == (400, detail)


def test_a_replayed_nonce_is_refused(sandbox, merchant):
    fields = merchant.payment_fields()
    assert merchant.post_form(form_body(fields)).status == 200
    replay = merchant.post_form(form_body(fields))
    assert (replay.status, replay.detail) == (401, "replayed nonce")
    assert len(sandbox.store.orders()) == 1


def test_a_refused_payment_does_not_use_up_its_nonce(merchant):
    fields = merchant.payment_fields(amount="0")
    assert merchant.post_form(form_body(fields)).status == 400
    fields["amount"] = "1"
    assert merchant.post_form(form_body(fields)).status == 200


def test_nonces_are_kept_per_merchant(sandbox, merchant):
    other = Merchant(sandbox.base_url, "ck-two", "sk-two")
    nonce = new_nonce()
    assert merchant.pay(nonce=nonce).status == 200
    assert other.pay(nonce=nonce).status == 200
