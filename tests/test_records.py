"""PaymentResult and OrderStatus as returned through the stubbed transport: attributes,
representation, identity, immutability."""

import json
import weakref

import pytest

import vemrat_pay


def payment_result(stub, client, order_id, pay_url):
    stub.answer(200, json.dumps({"data": {"order_id": order_id, "pay_url": pay_url}}))
    return client.create_payment(1, "CNY", "acct", "/cb")


def order_status(stub, client, data):
    stub.answer(200, json.dumps({"data": data}))
    return client.query_order("A1")


@pytest.mark.parametrize(
    "order_id, pay_url, representation",
    [
        ("A1", "u", "PaymentResult(order_id='A1', pay_url='u')"),
        ("", "", "PaymentResult(order_id='', pay_url='')"),
        ("a'b", "", "PaymentResult(order_id='a'b', pay_url='')"),
        ('q"\\\n\t', "https://pay.test/é/\U0001f600", "PaymentResult(order_id='q\"\\\n\t', pay_url='https://pay.test/é/\U0001f600')"),
        ("x" * 10000, "y", "PaymentResult(order_id='" + "x" * 10000 + "', pay_url='y')"),
    ],
)
def test_payment_result(stub, client, order_id, pay_url, representation):
    result = payment_result(stub, client, order_id, pay_url)
    assert type(result) is vemrat_pay.PaymentResult
    assert (result.order_id, result.pay_url) == (order_id, pay_url)
    assert type(result.order_id) is str and type(result.pay_url) is str
    assert repr(result) == representation
    assert str(result) == representation


@pytest.mark.parametrize(
    "data, representation",
    [
        ({}, "OrderStatus(order_id='', pay_status=0, settle_status=0, refund_status=0)"),
        ({"order_id": "A1", "pay_status": 1, "settle_status": 0, "refund_status": -3},
         "OrderStatus(order_id='A1', pay_status=1, settle_status=0, refund_status=-3)"),
        ({"order_id": "it's", "pay_status": -2147483648, "refund_status": 2147483647, "amount": "9"},
         "OrderStatus(order_id='it's', pay_status=-2147483648, settle_status=0, refund_status=2147483647)"),
        ({"order_id": "é\U0001f600\\", "fail_reason": "not shown"},
         "OrderStatus(order_id='é\U0001f600\\', pay_status=0, settle_status=0, refund_status=0)"),
    ],
)
def test_order_status_representation(stub, client, data, representation):
    status = order_status(stub, client, data)
    assert repr(status) == representation
    assert str(status) == representation


def records(stub, client):
    yield payment_result(stub, client, "A1", "u"), ["order_id", "pay_url"]
    yield order_status(stub, client, {"order_id": "A1", "pay_status": 2}), [
        "order_id", "pay_status", "pay_status_text", "settle_status", "settle_status_text", "refund_status",
        "refund_status_text", "amount", "settle_amount", "expired", "fail_reason",
    ]


def test_equality_is_identity(stub, client):
    for make in (lambda: payment_result(stub, client, "A1", "u"),
                 lambda: order_status(stub, client, {"order_id": "A1"})):
        first, second = make(), make()
        assert repr(first) == repr(second)
        assert first != second and not first == second
        assert first == first
        assert hash(first) != hash(second)


def test_attributes_are_read_only(stub, client):
    for record, names in records(stub, client):
        for name in names:
            before = getattr(record, name)
            with pytest.raises(AttributeError):
                setattr(record, name, "changed")
            with pytest.raises(AttributeError):
                delattr(record, name)
            assert getattr(record, name) == before


def test_no_new_attributes_and_no_weak_references(stub, client):
    for record, _ in records(stub, client):
        with pytest.raises(AttributeError):
            record.extra = 1
        assert not hasattr(record, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(record)
