"""Argument binding and conversion errors, shared by the constructor and the three methods."""

import sys

import pytest

from vemrat_pay import Client

CLIENT = Client("ck", "sk")

BINDING_ERRORS = [
    # (call, message)
    (lambda: Client(1, 2, 3), "Client.__new__() takes from 0 to 2 positional arguments but 3 were given"),
    (lambda: Client(x=1), "Client.__new__() got an unexpected keyword argument 'x'"),
    (lambda: Client("a", community_key="b"), "Client.__new__() got multiple values for argument 'community_key'"),
    (lambda: CLIENT.query_order("a", "b"), "Client.query_order() takes 1 positional arguments but 2 were given"),
    (lambda: CLIENT.query_order(), "Client.query_order() missing 1 required positional argument: 'order_id'"),
    (lambda: CLIENT.query_order(order="x"), "Client.query_order() got an unexpected keyword argument 'order'"),
    (lambda: CLIENT.query_order("x", order_id="y"), "Client.query_order() got multiple values for argument 'order_id'"),
    (
        lambda: CLIENT.verify_callback(),
        "Client.verify_callback() missing 2 required positional arguments: 'body' and 'signature'",
    ),
    (
        lambda: CLIENT.verify_callback(signature="s"),
        "Client.verify_callback() missing 1 required positional argument: 'body'",
    ),
    (
        lambda: CLIENT.verify_callback("a", "b", "c"),
        "Client.verify_callback() takes 2 positional arguments but 3 were given",
    ),
    (
        lambda: CLIENT.create_payment(),
        "Client.create_payment() missing 4 required positional arguments: "
        "'amount', 'currency', 'recipient_account', and 'notify_url'",
    ),
    (
        lambda: CLIENT.create_payment(1, notify_url="n"),
        "Client.create_payment() missing 2 required positional arguments: 'currency' and 'recipient_account'",
    ),
    (
        lambda: CLIENT.create_payment(1, currency="c"),
        "Client.create_payment() missing 2 required positional arguments: 'recipient_account' and 'notify_url'",
    ),
    (
        lambda: CLIENT.create_payment(notify_url="n"),
        "Client.create_payment() missing 3 required positional arguments: "
        "'amount', 'currency', and 'recipient_account'",
    ),
    (
        lambda: CLIENT.create_payment(1, 2, 3, 4, 5, 6, 7),
        "Client.create_payment() takes from 4 to 6 positional arguments but 7 were given",
    ),
    (
        lambda: CLIENT.create_payment(1, 2, 3, 4, amount=5),
        "Client.create_payment() got multiple values for argument 'amount'",
    ),
    (lambda: CLIENT.create_payment(1, 2, 3, 4, mode="x"), "Client.create_payment() got an unexpected keyword argument 'mode'"),
]


def test_one_positional_given_says_was():
    with pytest.raises(TypeError) as caught:
        Client.query_order(CLIENT, "a", "b")
    assert "but 2 were given" in str(caught.value)
    with pytest.raises(TypeError) as caught:
        CLIENT.create_payment(1, 2, 3, 4, 5, 6, 7, 8)
    assert str(caught.value).endswith("but 8 were given")


def test_keywords_are_checked_in_the_order_given():
    # The first offending keyword decides the message.
    with pytest.raises(TypeError, match="unexpected keyword argument 'zz'"):
        Client(zz=1, community_key="a", community=2)
    with pytest.raises(TypeError, match="multiple values for argument 'community_key'"):
        Client("a", community_key="b", zz=1)


# A conversion error names the argument it is about.
CONVERSION_ERRORS = [
    (lambda: Client(community_key=5), "argument 'community_key': 'int' object cannot be converted to 'PyString'"),
    (lambda: Client(sponsor_key=b"x"), "argument 'sponsor_key': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: Client(1.5, [1]), "argument 'community_key': 'float' object cannot be converted to 'PyString'"),
    (lambda: CLIENT.query_order(5), "argument 'order_id': 'int' object cannot be converted to 'PyString'"),
    (lambda: CLIENT.query_order(None), "argument 'order_id': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda: CLIENT.verify_callback(b"{}", "s"), "argument 'body': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: CLIENT.verify_callback("{}", 1), "argument 'signature': 'int' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize(
    "call, message", BINDING_ERRORS + CONVERSION_ERRORS, ids=[m for _, m in BINDING_ERRORS + CONVERSION_ERRORS]
)
def test_binding_and_conversion_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None


def test_qualified_type_name_in_conversion_error():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError) as caught:
        Client(community_key=Outer.Inner())
    assert str(caught.value) == (
        "argument 'community_key': "
        "'test_qualified_type_name_in_conversion_error.<locals>.Outer.Inner' object cannot be converted to 'PyString'"
    )


def test_unicode_encode_error_passes_unchanged():
    with pytest.raises(UnicodeEncodeError):
        Client("\ud800", "s")
    with pytest.raises(UnicodeEncodeError):
        CLIENT.query_order("a\udcff")


def test_str_subclass_is_accepted():
    class Key(str):
        pass

    Client(Key("a"), Key("b"))


def _failing_calls(key, other):
    return [
        lambda: Client(key, other, 3),
        lambda: Client(key, community_key=other),
        lambda: Client(community_key=key, sponsor_key=5),
        lambda: CLIENT.query_order(key, other),
        lambda: CLIENT.query_order(order_id=key, x=other),
        lambda: CLIENT.verify_callback(key),
        lambda: CLIENT.create_payment(key, other),
        lambda: CLIENT.create_payment(1.0, key, other, 5),
    ]


def test_failure_paths_keep_argument_reference_counts():
    key = "".join(["refcount-", "key"])
    other = "".join(["refcount-", "other"])
    calls = _failing_calls(key, other)
    before = (sys.getrefcount(key), sys.getrefcount(other))
    for _ in range(200):
        for call in calls:
            with pytest.raises(TypeError):
                call()
    assert (sys.getrefcount(key), sys.getrefcount(other)) == before


def test_successful_construction_keeps_argument_reference_counts():
    key = "".join(["refcount-", "key"])
    before = sys.getrefcount(key)
    clients = [Client(key, key) for _ in range(100)]
    del clients
    assert sys.getrefcount(key) == before
