"""The module object and its three classes, as Python code sees them."""

import importlib
import inspect
import sys
import types
import weakref

import pytest

from child_process import run_python

import vemrat_pay
from vemrat_pay import Client, OrderStatus, PaymentResult

CLASSES = [Client, PaymentResult, OrderStatus]

CREATE_PAYMENT_DOC = (
    "Create a payment order.\n\n"
    "pay_mode:\n"
    '  - "split"  (default): royalty split, requires recipient_account and\n'
    "    the merchant's Alipay app must have the royalty-split API enabled.\n"
    '  - "direct": direct payment, funds go straight to the merchant account.\n'
    "    recipient_account is ignored, no royalty-split permission needed."
)


def test_module_is_the_shared_object_itself():
    assert vemrat_pay.__file__.endswith(".so")
    assert not hasattr(vemrat_pay, "__path__")


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__version__", "0.1.0"),
        ("__doc__", ""),
        ("__all__", ["Client", "PaymentResult", "OrderStatus", "__version__"]),
        ("__name__", "vemrat_pay"),
    ],
)
def test_module_attributes(attribute, expected):
    assert getattr(vemrat_pay, attribute) == expected


def test_module_has_no_functions():
    public = {name: getattr(vemrat_pay, name) for name in dir(vemrat_pay)}
    assert not [name for name, value in public.items() if callable(value) and not isinstance(value, type)]
    assert {name for name in public if not name.startswith("__")} == {"Client", "PaymentResult", "OrderStatus"}


def test_reimport_yields_the_same_module_and_does_not_rerun_the_body():
    saved = sys.modules.pop("vemrat_pay")
    try:
        again = importlib.import_module("vemrat_pay")
        assert again is saved
        assert again.__all__ == ["Client", "PaymentResult", "OrderStatus", "__version__"]
        assert again.Client is Client
    finally:
        sys.modules["vemrat_pay"] = saved


@pytest.mark.parametrize(
    "cls, doc, signature",
    [
        (Client, "", "(community_key=None, sponsor_key=None)"),
        (PaymentResult, "Payment result returned by create_payment.", None),
        (OrderStatus, "Order status returned by query_order.", None),
    ],
)
def test_class_identity_and_documentation(cls, doc, signature):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__doc__ == doc
    assert cls.__text_signature__ == signature
    assert cls.__bases__ == (object,)


def test_client_signature_shows_two_optional_parameters():
    parameters = inspect.signature(Client).parameters
    assert [(p.name, p.default, p.kind) for p in parameters.values()] == [
        ("community_key", None, inspect.Parameter.POSITIONAL_OR_KEYWORD),
        ("sponsor_key", None, inspect.Parameter.POSITIONAL_OR_KEYWORD),
    ]


@pytest.mark.parametrize(
    "name, text_signature, doc, parameters",
    [
        (
            "create_payment",
            '($self, amount, currency, recipient_account, notify_url, pay_mode="split", return_url=None)',
            CREATE_PAYMENT_DOC,
            ["amount", "currency", "recipient_account", "notify_url", "pay_mode", "return_url"],
        ),
        ("query_order", "($self, order_id)", "Query order status.", ["order_id"]),
        ("verify_callback", "($self, body, signature)", "Verify a callback from Vemrat.", ["body", "signature"]),
    ],
)
def test_methods_documentation_and_signatures(name, text_signature, doc, parameters):
    method = getattr(Client, name)
    assert isinstance(method, types.MethodDescriptorType)
    assert method.__text_signature__ == text_signature
    assert method.__doc__ == doc
    signature = inspect.signature(getattr(Client("a", "b"), name))
    assert list(signature.parameters) == parameters
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in signature.parameters.values())


def test_create_payment_defaults():
    parameters = inspect.signature(Client.create_payment).parameters
    assert parameters["pay_mode"].default == "split"
    assert parameters["return_url"].default is None


def test_client_exposes_only_its_methods():
    client = Client(community_key="a", sponsor_key="b")
    assert not hasattr(client, "community_key")
    assert not hasattr(client, "sponsor_key")
    assert {name for name in dir(Client) if not name.startswith("__")} == {
        "create_payment",
        "query_order",
        "verify_callback",
    }
    assert repr(client).startswith("<builtins.Client object at 0x")


@pytest.mark.parametrize("cls", [PaymentResult, OrderStatus])
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {"x": 3}), (("a",), {})])
def test_records_refuse_construction(cls, args, kwargs):
    with pytest.raises(TypeError) as caught:
        cls(*args, **kwargs)
    assert caught.value.args == (f"No constructor defined for {cls.__name__}",)


@pytest.mark.parametrize("cls", CLASSES)
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})


def test_record_attributes_are_registered_in_order_with_empty_docs():
    expected = {
        PaymentResult: ["order_id", "pay_url"],
        OrderStatus: [
            "order_id", "pay_status", "pay_status_text", "settle_status", "settle_status_text", "refund_status",
            "refund_status_text", "amount", "settle_amount", "expired", "fail_reason",
        ],
    }
    for cls, names in expected.items():
        descriptors = [name for name, value in vars(cls).items() if isinstance(value, types.GetSetDescriptorType)]
        assert descriptors == names
        for name in names:
            assert vars(cls)[name].__doc__ in ("", None)


def test_client_instances_take_no_attributes_and_no_weak_references():
    client = Client("a", "b")
    with pytest.raises(AttributeError):
        client.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(client)
    assert not hasattr(client, "__dict__")


@pytest.mark.parametrize("cls", [PaymentResult, OrderStatus])
def test_record_getters_and_repr_refuse_a_foreign_receiver(cls):
    client = Client("a", "b")
    for value in vars(cls).values():
        if isinstance(value, types.GetSetDescriptorType):
            with pytest.raises(TypeError):
                value.__get__(client, Client)
    with pytest.raises(TypeError):
        cls.__repr__(client)


# --- The classes are immutable, like the interpreter's own built-in types -----------------------

CLASS_ATTRIBUTES = [
    # (class, attribute name); each is set to a replacement, then deleted
    (Client, "__new__"),
    (Client, "verify_callback"),
    (Client, "create_payment"),
    (Client, "__repr__"),
    (Client, "__doc__"),
    (Client, "extra"),
    (PaymentResult, "__new__"),
    (PaymentResult, "order_id"),
    (OrderStatus, "__repr__"),
    (OrderStatus, "pay_status"),
]


@pytest.mark.parametrize("cls, name", CLASS_ATTRIBUTES, ids=[f"{c.__name__}.{n}" for c, n in CLASS_ATTRIBUTES])
def test_class_attributes_cannot_be_set_or_deleted(cls, name):
    before = dict(vars(cls))
    with pytest.raises(TypeError, match="immutable type"):
        setattr(cls, name, staticmethod(lambda *args, **kwargs: None))
    with pytest.raises(TypeError, match="immutable type"):
        delattr(cls, name)
    assert dict(vars(cls)) == before


# Before the classes were immutable, a replaced __new__ made instances whose C++ fields were never
# constructed, and freeing one crashed the interpreter; the child shows the process survives.
REPLACED_CONSTRUCTOR = """
import vemrat_pay
try:
    vemrat_pay.Client.__new__ = staticmethod(lambda cls, *a, **k: object.__new__(cls))
except TypeError as error:
    print(type(error).__name__)
c = vemrat_pay.Client("ck", "sk")
del c
print("freed")
"""


def test_a_replaced_constructor_cannot_make_an_unconstructed_instance():
    completed = run_python(REPLACED_CONSTRUCTOR)
    assert (completed.returncode, completed.stdout) == (0, "TypeError\nfreed\n"), completed.stderr


@pytest.mark.parametrize("cls", CLASSES)
def test_no_other_constructor_makes_an_instance(cls):
    with pytest.raises(TypeError, match=r"is not safe, use"):
        object.__new__(cls)
    for other in CLASSES:
        if other is not cls:
            with pytest.raises(TypeError, match="is not a subtype of"):
                other.__new__(cls)
