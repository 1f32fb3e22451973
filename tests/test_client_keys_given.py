"""Client construction with both keys given: they are kept exactly as given, and nothing is
looked up, neither a file nor an import.
"""

import pytest

from client_support import assert_holds, run_child
from vemrat_pay import Client


# --- Keys given: nothing is looked up -------------------------------------------------------

# The child forbids every way of finding the key file: django.conf cannot be imported, os.getcwd
# raises, and an audit hook records each open and import while the constructor runs.
SEALED_CALL = """
import vemrat_pay
from vemrat_pay import Client
from client_support import request_of
import http.server, threading, urllib.parse, hashlib, hmac

class Text(str):
    pass

sys.modules["django.conf"] = None
real_getcwd = os.getcwd
def no_getcwd():
    raise AssertionError("getcwd called")
os.getcwd = no_getcwd
events = []
recording = False
def hook(event, args):
    if recording and event in ("open", "import"):
        events.append([event, repr(args[0])])
sys.addaudithook(hook)

recording = True
try:
    client = {call}
    failure = None
except BaseException as error:
    failure = describe(error)
recording = False
os.getcwd = real_getcwd
report({{"events": events, "failure": failure, "request": request_of(client) if failure is None else None}})
"""

KEYS_GIVEN = [
    # (constructor call, community key, sponsor key)
    ('Client("c", "s")', "c", "s"),
    ('Client(community_key="c", sponsor_key="s")', "c", "s"),
    ('Client(sponsor_key="s", community_key="c")', "c", "s"),
    ('Client("", "")', "", ""),
    ('Client(" c ", "s\\n")', " c ", "s\n"),
    ('Client(Text("c"), Text("s"))', "c", "s"),
    ('Client("ключ", "秘密")', "ключ", "秘密"),
]


@pytest.mark.parametrize("call, community, sponsor", KEYS_GIVEN, ids=[c for c, _, _ in KEYS_GIVEN])
def test_keys_given_are_kept_without_any_lookup(tmp_path, call, community, sponsor):
    result = run_child(SEALED_CALL.format(call=call), cwd=tmp_path)
    assert result["failure"] is None
    assert result["events"] == []
    assert_holds(result["request"], community, sponsor)


SURROGATE_ERROR = None
try:
    "\ud800".encode("utf-8")
except UnicodeEncodeError as error:
    SURROGATE_ERROR = str(error)


def type_error(name, type_name):
    return ("TypeError", f"argument '{name}': '{type_name}' object cannot be converted to 'PyString'")


KEY_ARGUMENT_ERRORS = [
    # (constructor call, (exception class, message)); raised before any lookup
    ("Client(community_key=5)", type_error("community_key", "int")),
    ("Client(5)", type_error("community_key", "int")),
    ("Client(None, 5)", type_error("sponsor_key", "int")),
    ('Client("c", 5)', type_error("sponsor_key", "int")),
    ("Client(5, 5.0)", type_error("community_key", "int")),
    ("Client(sponsor_key=5.0, community_key=5)", type_error("community_key", "int")),
    ('Client(b"c", "s")', type_error("community_key", "bytes")),
    ('Client("c", [])', type_error("sponsor_key", "list")),
    ('Client(5, "\\ud800")', type_error("community_key", "int")),
    ('Client("\\ud800")', ("UnicodeEncodeError", SURROGATE_ERROR)),
    ('Client("c", "\\ud800")', ("UnicodeEncodeError", SURROGATE_ERROR)),
    ('Client("\\ud800", 5)', ("UnicodeEncodeError", SURROGATE_ERROR)),
]


@pytest.mark.parametrize("call, expected", KEY_ARGUMENT_ERRORS, ids=[c for c, _ in KEY_ARGUMENT_ERRORS])
def test_key_argument_errors_come_before_any_lookup(tmp_path, call, expected):
    result = run_child(SEALED_CALL.format(call=call), cwd=tmp_path)
    assert result["events"] == []
    assert (result["failure"]["type"], result["failure"]["message"]) == expected
    assert result["failure"]["cause"] == "None"


def test_sealed_child_does_see_a_lookup(tmp_path):
    # Control for the two tests above: one key alone goes looking, and the child notices. The
    # import halted by the None in sys.modules is the sign; whether it also raises an "import"
    # audit event is the interpreter's choice (3.15 raises none).
    result = run_child(SEALED_CALL.format(call='Client("c")'), cwd=tmp_path)
    assert result["failure"]["type"] == "ModuleNotFoundError"
    assert "django.conf" in result["failure"]["message"]


def test_surrogate_error_is_the_interpreters_own():
    with pytest.raises(UnicodeEncodeError) as caught:
        Client("c", "\udfff")
    try:
        "\udfff".encode("utf-8")
    except UnicodeEncodeError as oracle:
        assert caught.value.args == oracle.args
