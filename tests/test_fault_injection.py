"""Internal failures forced from outside: allocations that fail one at a time, a clock before
1970, and the module's own PanicException coming back through Python code it calls.

Each outcome must be a result, MemoryError or PanicException (a BaseException that is not an
Exception, named PanicException, from the module vemrat_pay_runtime), never a crash; nothing
may stay pending afterwards, the next call must work and no reference may be lost or gained.
The scans run in a child interpreter so that a crash fails one test instead of the run."""

import os
import re
import shutil
import sysconfig
import textwrap
from pathlib import Path

import pytest

from child_process import report_of, run_python

TESTS_DIR = str(Path(__file__).parent)

CHILD_PRELUDE = textwrap.dedent(
    f"""
    import hashlib, hmac, io, json, sys, urllib.request
    sys.path.insert(0, {TESTS_DIR!r})
    import vemrat_pay

    SPONSOR_KEY = "sk-fault"
    client = vemrat_pay.Client("ck-fault", SPONSOR_KEY)
    BODY = '{{"status":"paid","order_id":"F-1","amount":"1.00","reason":"","expired":"0"}}'
    SIGNATURE = hmac.new(SPONSOR_KEY.encode(), BODY.encode(), hashlib.sha256).hexdigest()
    ANSWER = b'{{"data":{{"order_id":"F-1","pay_url":"https://pay.test/F-1","pay_status":1}}}}'

    class Response:
        def getcode(self):
            return 200
        def read(self):
            return ANSWER

    def stub_urlopen(request):
        return Response()

    # The recognition SECURITY.md gives merchants, who cannot import the class.
    def is_panic(error):
        kind = type(error)
        return (kind.__module__ == "vemrat_pay_runtime" and kind.__qualname__ == "PanicException"
                and not isinstance(error, Exception))
    """
)

NOMEMORY_SCAN = """
import _testcapi

urllib.request.urlopen = stub_urlopen
AMOUNT, CURRENCY, ACCOUNT, NOTIFY = 12.5, "CNY", "acct-fault", "https://shop.test/cb"
ORDER_ID = "F-1"

def bad_signature():
    try:
        client.verify_callback(BODY, "0" * 64)
    except RuntimeError as error:
        return str(error)

calls = {
    "verify_callback": lambda: client.verify_callback(BODY, SIGNATURE),
    "create_payment": lambda: client.create_payment(AMOUNT, CURRENCY, ACCOUNT, NOTIFY),
    "query_order": lambda: client.query_order(ORDER_ID),
    "Client": lambda: type(vemrat_pay.Client(CURRENCY, ACCOUNT)).__name__,
    "bad signature": bad_signature,
}
watched = [client, BODY, SIGNATURE, ANSWER, AMOUNT, CURRENCY, ACCOUNT, NOTIFY, ORDER_ID]

report = {"outcomes": {}, "problems": [], "panic": None}
for name, call in calls.items():
    expected = call()  # warm-up: caches and interned names are made before counting
    call()
    counts = [sys.getrefcount(value) for value in watched]
    seen = set()
    for start in range(SCAN):
        _testcapi.set_nomemory(start, start + 1)
        try:
            call()
            outcome = "result"
        except MemoryError:
            outcome = "MemoryError"
        except BaseException as error:
            if is_panic(error):
                outcome = "PanicException"
                if report["panic"] is None:
                    report["panic"] = str(error)
            else:
                outcome = f"{type(error).__module__}.{type(error).__name__}: {error}"
        finally:
            _testcapi.remove_mem_hooks()
        if outcome not in ("result", "MemoryError", "PanicException"):
            report["problems"].append(f"{name} at allocation {start}: {outcome}")
        if sys.exc_info() != (None, None, None):
            report["problems"].append(f"{name} at allocation {start}: an exception is left pending")
        seen.add(outcome)
        again = call()
        if repr(again) != repr(expected):
            report["problems"].append(f"{name} after allocation {start}: {again!r} instead of {expected!r}")
    if [sys.getrefcount(value) for value in watched] != counts:
        report["problems"].append(f"{name}: reference counts changed")
    report["outcomes"][name] = sorted(seen)
print(json.dumps(report))
"""


def run_child(body, env=None):
    completed = run_python(body, prelude=CHILD_PRELUDE, env=env)
    return report_of(completed), completed.stderr


def test_failing_allocations_give_memory_error_or_panic_never_a_crash():
    report, _ = run_child(f"SCAN = 400\n{NOMEMORY_SCAN}")
    assert report["problems"] == []
    for name, outcomes in report["outcomes"].items():
        # The scan reaches past the call's last allocation, and hits allocations on the way.
        assert "result" in outcomes, name
        assert set(outcomes) & {"MemoryError", "PanicException"}, name
    # A dict or record the module cannot allocate is an internal failure.
    assert "PanicException" in report["outcomes"]["verify_callback"]
    assert report["panic"]


PANIC_THROUGH_PYTHON = """
import _testcapi

panic = None
for start in range(400):
    _testcapi.set_nomemory(start, start + 1)
    try:
        client.verify_callback(BODY, SIGNATURE)
    except BaseException as error:
        if is_panic(error):
            panic = error
    finally:
        _testcapi.remove_mem_hooks()
    if panic is not None:
        break
assert panic is not None, "no allocation failure turned into PanicException"

def replaced_urlopen(request):
    try:
        raise panic
    except BaseException as caught:
        raise caught

urllib.request.urlopen = replaced_urlopen
captured = io.StringIO()
sys.stderr, original_stderr = captured, sys.stderr
counts = [sys.getrefcount(client), sys.getrefcount(BODY)]
outcomes = []
for call in (lambda: client.create_payment(1.0, "CNY", "a", "b"), lambda: client.query_order(BODY)):
    try:
        call()
        outcomes.append(["result", ""])
    except BaseException as error:
        outcomes.append([type(error).__name__, str(error), is_panic(error), error is panic,
                         type(error) is type(panic)])
    outcomes[-1].append(sys.exc_info() == (None, None, None))
sys.stderr = original_stderr
urllib.request.urlopen = stub_urlopen
after = client.query_order("F-1").order_id
print(json.dumps({"message": str(panic), "outcomes": outcomes, "stderr": captured.getvalue(), "after": after,
                  "counts": counts == [sys.getrefcount(client), sys.getrefcount(BODY)]}))
"""


def test_panic_raised_by_called_python_code_surfaces_again_as_panic():
    report, _ = run_child(PANIC_THROUGH_PYTHON)
    for outcome in report["outcomes"]:
        name, message, is_panic, same_object, same_class, nothing_pending = outcome
        assert (name, message, is_panic, same_class, nothing_pending) == (
            "PanicException", report["message"], True, True, True
        )
        assert not same_object  # a new PanicException, raised by the module's guard
    # One notice and the Python traceback for each call.
    assert report["stderr"].count("PanicException raised by Python code") == 2
    assert report["stderr"].count("Traceback (most recent call last)") == 2
    assert "replaced_urlopen" in report["stderr"]
    assert report["after"] == "F-1"
    assert report["counts"]


# Debian's libfaketime for the architecture of the interpreter under test.
FAKETIME_LIBRARY = f"/usr/lib/{sysconfig.get_config_var('MULTIARCH')}/faketime/libfaketime.so.1"

CLOCK_BEFORE_1970 = """
import time
sent = []
urllib.request.urlopen = lambda request: sent.append(request) or Response()
outcomes = []
for call in (lambda: client.create_payment(1.0, "CNY", "a", "b"), lambda: client.query_order("F-1")):
    try:
        call()
        outcomes.append(["result", ""])
    except BaseException as error:
        outcomes.append([type(error).__name__, str(error), is_panic(error)])
    outcomes[-1].append(sys.exc_info() == (None, None, None))
# verify_callback needs no clock
fields = client.verify_callback(BODY, SIGNATURE)
print(json.dumps({"now": time.time(), "outcomes": outcomes, "sent": len(sent), "order_id": fields["order_id"]}))
"""


@pytest.mark.skipif(
    not os.path.exists(FAKETIME_LIBRARY), reason="libfaketime is not installed (Debian package faketime)"
)
def test_clock_before_1970_is_an_internal_failure_and_nothing_is_sent():
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("libfaketime's clock_gettime deadlocks inside the AddressSanitizer allocator")
    preload = ":".join(filter(None, [os.environ.get("LD_PRELOAD"), FAKETIME_LIBRARY]))
    report, stderr = run_child(
        CLOCK_BEFORE_1970, env={"LD_PRELOAD": preload, "FAKETIME": "@1969-07-20 20:17:40", "FAKETIME_DONT_RESET": "1"}
    )
    assert report["now"] < 0
    assert report["outcomes"] == [["PanicException", "system clock is set before the Unix epoch", True, True]] * 2
    assert report["sent"] == 0
    assert report["order_id"] == "F-1"
    assert stderr.count("internal failure") == 2
    # The diagnostic names the source file relative to the tree, never a path of the build machine.
    locations = re.findall(r"internal failure at (\S+):\d+ in ", stderr)
    assert len(locations) == 2 and all(re.fullmatch(r"src/[\w/]+\.[ch]pp", path) for path in locations), stderr


def test_faketime_package_is_where_the_test_looks():
    # Keeps the skip above honest: where the faketime command exists, so does the library.
    if shutil.which("faketime") is None:
        pytest.skip("the faketime command is not installed")
    assert os.path.exists(FAKETIME_LIBRARY)
