"""Client construction: keys passed by the caller, or read from auth_key.py in the working space.

Cases that import Django, change the environment or patch os/sys run in a child interpreter, so
that nothing (Django settings above all) leaks between tests. Cases that only need a
`django.conf` stand-in run in this process with the stand-in patched into sys.modules.
"""

import errno
import hashlib
import hmac
import http.server
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import textwrap
import threading
import types
import urllib.parse

import pytest

import vemrat_pay
from vemrat_pay import Client

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
MODULE_DIR = os.path.dirname(vemrat_pay.__file__)
DJANGO_DIR = os.path.dirname(os.path.dirname(importlib.util.find_spec("django").origin))

CANNOT_READ = "Cannot read auth_key.py at {}: {}. Please pass community_key and sponsor_key manually."
NO_COMMUNITY_KEY = "COMMUNITY_KEY not found in auth_key.py"
NO_SPONSOR_KEY = "SPONSOR_KEY not found in auth_key.py"


def os_text(code):
    return f"{os.strerror(code)} (os error {code})"


def key_file(community=None, sponsor=None, newline="\n", prefix=""):
    lines = ["# merchant credentials"]
    if community is not None:
        lines.append(f'COMMUNITY_KEY = "{community}"')
    if sponsor is not None:
        lines.append(f"SPONSOR_KEY = '{sponsor}'")
    return (prefix + newline.join(lines) + newline).encode()


def write_key_file(directory, content):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "auth_key.py"), "wb") as file:
        file.write(content)


# --- Which keys a Client holds --------------------------------------------------------------
#
# The keys are not visible from Python. query_order sends the community key in its query string
# and signs it with the sponsor key, so a local server that records the query shows both; the
# signature is checked with Python's hmac.


def request_of(client):
    """The query parameters of one query_order call, answered with a service error."""
    seen = {}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            query = urllib.parse.urlsplit(self.path).query
            seen.update((k, v[0]) for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items())
            body = b'{"detail": "recorded"}'
            self.send_response(400)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    previous = os.environ.get("VEMRAT_PAY_BASE_URL")
    os.environ["VEMRAT_PAY_BASE_URL"] = f"http://127.0.0.1:{server.server_port}"
    try:
        with pytest.raises(RuntimeError, match="^HTTP 400: "):
            client.query_order("probe-order")
    finally:
        if previous is None:
            del os.environ["VEMRAT_PAY_BASE_URL"]
        else:
            os.environ["VEMRAT_PAY_BASE_URL"] = previous
        server.shutdown()
        server.server_close()
        thread.join()
    return seen


def assert_holds(request, community, sponsor):
    assert request["community_key"] == community
    message = community + request["timestamp"] + request["nonce"] + request["order_id"]
    expected = hmac.new(sponsor.encode(), message.encode(), hashlib.sha256).hexdigest()
    assert request["signature"] == expected, "signed with another sponsor key"


# --- Child interpreters ---------------------------------------------------------------------

CHILD_PRELUDE = f"""
import json, os, sys
sys.path.insert(0, {TESTS_DIR!r})
import vemrat_pay

def describe(error):
    return {{
        "type": type(error).__name__,
        "message": str(error),
        "args": [a if isinstance(a, str) else repr(a) for a in error.args],
        "cause": repr(error.__cause__),
        "context": repr(error.__context__),
    }}

def outcome(construct):
    # The client's request, or the description of the construction's exception.
    try:
        client = construct()
    except BaseException as error:
        return describe(error)
    from test_client import request_of
    return {{"type": None, "request": request_of(client)}}

def report(value):
    print(json.dumps(value))
"""

CLEARED_VARIABLES = {"IS_LAN", "DJANGO_SETTINGS_MODULE", "VEMRAT_PAY_BASE_URL", "PYTHONPATH", "PYTHONSTARTUP"}


def run_child(body, cwd, env=None, executable=sys.executable, flags=()):
    """Runs `body` after CHILD_PRELUDE; returns what it passed to report()."""
    environment = {
        k: v for k, v in os.environ.items() if k not in CLEARED_VARIABLES and not k.lower().endswith("_proxy")
    }
    environment.update(env or {})
    completed = subprocess.run(
        [executable, *flags, "-c", CHILD_PRELUDE + textwrap.dedent(body)],
        cwd=cwd,
        env=environment,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert completed.returncode == 0, completed.stderr
    return json.loads(completed.stdout.splitlines()[-1])


def assert_loaded(result, community, sponsor):
    assert result["type"] is None, result
    assert_holds(result["request"], community, sponsor)


def assert_module_error(result, message):
    """The module's own RuntimeError: exactly one argument, no cause, no context."""
    assert result == {
        "type": "RuntimeError",
        "message": message,
        "args": [message],
        "cause": "None",
        "context": "None",
    }


@pytest.fixture
def places(tmp_path):
    """A working-space directory and a current directory, each with its own key file."""
    space = tmp_path / "space"
    cwd = tmp_path / "cwd"
    write_key_file(space, key_file("ck-space", "sk-space"))
    write_key_file(cwd, key_file("ck-cwd", "sk-cwd"))
    return types.SimpleNamespace(space=str(space), cwd=str(cwd), root=tmp_path)


KEYS_OF = {"space": ("ck-space", "sk-space"), "cwd": ("ck-cwd", "sk-cwd"), "bin": ("ck-bin", "sk-bin")}


# --- Keys given: nothing is looked up -------------------------------------------------------

# The child forbids every way of finding the key file: django.conf cannot be imported, os.getcwd
# raises, and an audit hook records each open and import while the constructor runs.
SEALED_CALL = """
import vemrat_pay
from vemrat_pay import Client
from test_client import request_of
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
    # Control for the two tests above: one key alone goes looking, and the child notices.
    result = run_child(SEALED_CALL.format(call='Client("c")'), cwd=tmp_path)
    assert result["failure"]["type"] == "ModuleNotFoundError"
    assert ["import", "'django.conf'"] in result["events"]


def test_surrogate_error_is_the_interpreters_own():
    with pytest.raises(UnicodeEncodeError) as caught:
        Client("c", "\udfff")
    try:
        "\udfff".encode("utf-8")
    except UnicodeEncodeError as oracle:
        assert caught.value.args == oracle.args


# --- Where the key file is looked for -------------------------------------------------------

WORKING_SPACE_SETTINGS = [
    # (id, statement run in the child, directory whose keys are used)
    ("str", "settings.configure(WORKING_SPACE={space!r})", "space"),
    ("str subclass", "class Text(str): pass\nsettings.configure(WORKING_SPACE=Text({space!r}))", "space"),
    ("pathlib.Path", "import pathlib\nsettings.configure(WORKING_SPACE=pathlib.Path({space!r}))", "cwd"),
    ("None", "settings.configure(WORKING_SPACE=None)", "cwd"),
    ("missing", "settings.configure(DEBUG=True)", "cwd"),
    ("not configured", "pass", "cwd"),
]


@pytest.mark.parametrize(
    "statement, used", [r[1:] for r in WORKING_SPACE_SETTINGS], ids=[r[0] for r in WORKING_SPACE_SETTINGS]
)
def test_django_working_space(places, statement, used):
    body = f"from django.conf import settings\n{statement.format(space=places.space)}\n"
    body += "report(outcome(lambda: vemrat_pay.Client(community_key='ignored')))\n"
    assert_loaded(run_child(body, cwd=places.cwd), *KEYS_OF[used])


@pytest.fixture
def interpreter_dir(places):
    """A directory holding a symlink to this interpreter and a key file of its own."""
    bin_dir = places.root / "bin"
    bin_dir.mkdir()
    (bin_dir / "python").symlink_to(sys.executable)
    write_key_file(bin_dir, key_file("ck-bin", "sk-bin"))
    return bin_dir


LAN_FLAGS = [
    # (IS_LAN value or None for unset, directory whose keys are used)
    ("true", "bin"),
    ("True", "cwd"),
    ("TRUE", "cwd"),
    ("1", "cwd"),
    (" true", "cwd"),
    ("true ", "cwd"),
    ("yes", "cwd"),
    ("", "cwd"),
    (None, "cwd"),
]


@pytest.mark.parametrize("flag, used", LAN_FLAGS, ids=[repr(f) for f, _ in LAN_FLAGS])
def test_lan_flag_chooses_the_interpreter_directory(places, interpreter_dir, flag, used):
    env = {"PYTHONPATH": os.pathsep.join([MODULE_DIR, DJANGO_DIR])}
    if flag is not None:
        env["IS_LAN"] = flag
    body = """
    assert os.path.dirname(sys.executable).endswith("/bin"), sys.executable
    report(outcome(vemrat_pay.Client))
    """
    result = run_child(body, cwd=places.cwd, env=env, executable=str(interpreter_dir / "python"))
    assert_loaded(result, *KEYS_OF[used])


def test_lan_flag_path_is_the_dirname_of_sys_executable(places):
    # The file in the interpreter's directory is missing: the message shows the path tried.
    body = """
    sys.executable = os.path.join(os.path.dirname(os.getcwd()), "nowhere", "python3")
    report(outcome(vemrat_pay.Client))
    """
    result = run_child(body, cwd=places.cwd, env={"IS_LAN": "true"})
    path = str(places.root / "nowhere" / "auth_key.py")
    assert_module_error(result, CANNOT_READ.format(path, os_text(errno.ENOENT)))


def test_working_space_setting_wins_over_the_lan_flag(places, interpreter_dir):
    env = {"PYTHONPATH": os.pathsep.join([MODULE_DIR, DJANGO_DIR]), "IS_LAN": "true"}
    body = f"""
    from django.conf import settings
    settings.configure(WORKING_SPACE={places.space!r})
    report(outcome(vemrat_pay.Client))
    """
    result = run_child(body, cwd=places.cwd, env=env, executable=str(interpreter_dir / "python"))
    assert_loaded(result, *KEYS_OF["space"])


def test_working_space_is_joined_as_given(places):
    # A trailing separator is kept: the path has two slashes.
    missing = os.path.join(str(places.root), "missing") + "/"
    body = f"""
    from django.conf import settings
    settings.configure(WORKING_SPACE={missing!r})
    report(outcome(vemrat_pay.Client))
    """
    result = run_child(body, cwd=places.cwd)
    assert_module_error(result, CANNOT_READ.format(missing + "/auth_key.py", os_text(errno.ENOENT)))


# --- Django unavailable ---------------------------------------------------------------------

WITHOUT_DJANGO = [
    # (id, statement that breaks django.conf, statement that shows the interpreter's own error)
    ("None in sys.modules", 'sys.modules["django.conf"] = None', "import django.conf"),
    (
        "no settings",
        'import types\nsys.modules["django.conf"] = conf = types.ModuleType("django.conf")',
        "conf.settings",
    ),
]


@pytest.mark.parametrize(
    "breakage, oracle", [r[1:] for r in WITHOUT_DJANGO], ids=[r[0] for r in WITHOUT_DJANGO]
)
def test_without_django_the_error_passes_unchanged(places, breakage, oracle):
    body = f"""
    import vemrat_pay
    {breakage.replace(chr(10), chr(10) + "    ")}
    got = outcome(vemrat_pay.Client)
    try:
        {oracle}
    except BaseException as error:
        expected = describe(error)
    report([got, expected])
    """
    got, expected = run_child(body, cwd=places.cwd)
    assert got["type"] in ("ModuleNotFoundError", "AttributeError")
    assert got == expected


def test_without_django_on_the_path(places):
    # -S: no site-packages at all; only the module itself is on the path.
    only_module = places.root / "only_module"
    only_module.mkdir()
    (only_module / os.path.basename(vemrat_pay.__file__)).symlink_to(vemrat_pay.__file__)
    body = """
    got = outcome(lambda: vemrat_pay.Client(None, "s"))
    try:
        import django.conf
    except BaseException as error:
        expected = describe(error)
    report([got, expected])
    """
    got, expected = run_child(body, cwd=places.cwd, env={"PYTHONPATH": str(only_module)}, flags=["-S"])
    assert got["type"] == "ModuleNotFoundError"
    assert got == expected


# --- Failures of the fallback pass unchanged; those of the setting and the flag do not ------

FALLBACK_FAILURES = [
    # (id, IS_LAN, statements run before Client(); `sentinel` is the exception expected by identity,
    #  or None with the expected (class, message))
    ("getcwd raises", None, "def broken():\n    raise sentinel\nos.getcwd = broken", None),
    ("dirname raises", "true", "def broken(path):\n    raise sentinel\nos.path.dirname = broken", None),
    (
        "setting and getcwd raise",
        None,
        "import types\n"
        "class Settings:\n"
        "    @property\n"
        "    def WORKING_SPACE(self):\n"
        "        raise LookupError('discarded')\n"
        "sys.modules['django.conf'] = types.SimpleNamespace(settings=Settings())\n"
        "def broken():\n    raise sentinel\nos.getcwd = broken",
        None,
    ),
    (
        "getcwd returns bytes",
        None,
        "os.getcwd = lambda: b'/tmp'",
        ("TypeError", "'bytes' object cannot be converted to 'PyString'"),
    ),
    (
        "sys.executable is None",
        "true",
        "sys.executable = None",
        ("TypeError", "'NoneType' object cannot be converted to 'PyString'"),
    ),
    (
        "dirname returns int",
        "true",
        "os.path.dirname = lambda path: 5",
        ("TypeError", "'int' object cannot be converted to 'PyString'"),
    ),
    (
        "os cannot be imported",
        None,
        "import django.conf\nsys.modules['os'] = None",
        ("ModuleNotFoundError", "import of os halted; None in sys.modules"),
    ),
    (
        "sys cannot be imported",
        "true",
        "import django.conf\nsys.modules['sys'] = None",
        ("ModuleNotFoundError", "import of sys halted; None in sys.modules"),
    ),
]

FALLBACK_CHILD = """
import vemrat_pay
sentinel = PermissionError(13, "sentinel from Python code")
saved_os, saved_sys = sys.modules["os"], sys.modules["sys"]
{setup}
try:
    vemrat_pay.Client()
    result = None
except BaseException as error:
    sys.modules["os"], sys.modules["sys"] = saved_os, saved_sys
    result = describe(error)
    result["same"] = error is sentinel
report(result)
"""


@pytest.mark.parametrize(
    "flag, setup, expected", [r[1:] for r in FALLBACK_FAILURES], ids=[r[0] for r in FALLBACK_FAILURES]
)
def test_fallback_failures_pass_unchanged(places, flag, setup, expected):
    env = {} if flag is None else {"IS_LAN": flag}
    result = run_child(FALLBACK_CHILD.format(setup=setup), cwd=places.cwd, env=env)
    assert result is not None, "the construction succeeded"
    if expected is None:
        assert result["same"], result
        assert result["context"] == "None", "a discarded exception was chained"
    else:
        assert (result["type"], result["message"]) == expected
        assert result["cause"] == "None"


DISCARDED_FAILURES = [
    # (id, IS_LAN, statements run before Client()); the current directory's keys are used
    ("environ missing", "true", "del os.environ"),
    ("IS_LAN lookup raises", "true", "class Broken(dict):\n    def __getitem__(self, key):\n        raise OSError('x')\nos.environ = Broken(IS_LAN='true')"),
    ("IS_LAN not a str", None, "os.environ = {'IS_LAN': 1}"),
    ("IS_LAN bytes", None, "os.environ = {'IS_LAN': b'true'}"),
    (
        "setting raises",
        None,
        "import types\n"
        "class Settings:\n"
        "    @property\n"
        "    def WORKING_SPACE(self):\n"
        "        raise ValueError('discarded')\n"
        "sys.modules['django.conf'] = types.SimpleNamespace(settings=Settings())",
    ),
    (
        "setting with a lone surrogate",
        None,
        "import types\nsys.modules['django.conf'] = types.SimpleNamespace("
        "settings=types.SimpleNamespace(WORKING_SPACE='/tmp/\\udc80'))",
    ),
]


# The probe of the keys needs the real os.environ back.
DISCARDED_CHILD = """
saved_environ, saved_conf = os.environ, sys.modules.get("django.conf")
{setup}
try:
    client = vemrat_pay.Client()
except BaseException as error:
    report(describe(error))
else:
    os.environ = saved_environ
    sys.modules["django.conf"] = saved_conf
    report(outcome(lambda: client))
"""


@pytest.mark.parametrize(
    "flag, setup", [r[1:] for r in DISCARDED_FAILURES], ids=[r[0] for r in DISCARDED_FAILURES]
)
def test_failures_reading_setting_or_flag_fall_back(places, flag, setup):
    env = {} if flag is None else {"IS_LAN": flag}
    assert_loaded(run_child(DISCARDED_CHILD.format(setup=setup), cwd=places.cwd, env=env), *KEYS_OF["cwd"])


# Exceptions that are not an Exception (an interrupt, an exit) are not the lookup's to swallow:
# they reach the caller as the same object, and no client is built from another directory's keys.
INTERRUPTED_LOOKUPS = {
    "reading WORKING_SPACE": (
        "class Settings:\n"
        "    @property\n"
        "    def WORKING_SPACE(self):\n"
        "        raise sentinel\n"
        "sys.modules['django.conf'] = types.SimpleNamespace(settings=Settings())"
    ),
    "reading IS_LAN": (
        "class Environ(dict):\n"
        "    def __getitem__(self, key):\n"
        "        raise sentinel\n"
        "os.environ = Environ()"
    ),
}

INTERRUPTED_CHILD = """
import types
sentinel = {exception}("sentinel")
{setup}
try:
    vemrat_pay.Client()
    result = {{"type": None}}
except BaseException as error:
    result = describe(error)
    result["same"] = error is sentinel
report(result)
"""


@pytest.mark.parametrize("exception", ["KeyboardInterrupt", "SystemExit", "GeneratorExit"])
@pytest.mark.parametrize("setup", INTERRUPTED_LOOKUPS.values(), ids=INTERRUPTED_LOOKUPS.keys())
def test_interrupts_while_looking_up_the_directory_pass_unchanged(places, exception, setup):
    result = run_child(INTERRUPTED_CHILD.format(exception=exception, setup=setup), cwd=places.cwd)
    assert (result["type"], result.get("same")) == (exception, True), result


# --- Reading the key file (a django.conf stand-in names the directory) -----------------------


@pytest.fixture
def working_space(tmp_path, monkeypatch):
    """Points a django.conf stand-in at tmp_path; returns tmp_path as text."""
    conf = types.ModuleType("django.conf")
    conf.settings = types.SimpleNamespace(WORKING_SPACE=str(tmp_path))
    monkeypatch.setitem(sys.modules, "django.conf", conf)
    return str(tmp_path)


def make_directory(space):
    os.mkdir(os.path.join(space, "auth_key.py"))


KEY_FILE_FAILURES = [
    # (id, content, or a function making the file, message with {path} and {space})
    ("missing", None, CANNOT_READ.format("{path}", os_text(errno.ENOENT))),
    ("a directory", make_directory, CANNOT_READ.format("{path}", os_text(errno.EISDIR))),
    (
        "invalid UTF-8",
        b'COMMUNITY_KEY = "ck-secret"\nSPONSOR_KEY = "\xffsk-secret"\n',
        CANNOT_READ.format("{path}", "stream did not contain valid UTF-8"),
    ),
    ("empty", b"", NO_COMMUNITY_KEY),
    ("neither key", b"OTHER_KEY = 'x'\nIS_LAN = 'true'\n", NO_COMMUNITY_KEY),
    ("only the sponsor key", key_file(sponsor="sk-secret"), NO_COMMUNITY_KEY),
    ("only the community key", key_file(community="ck-secret"), NO_SPONSOR_KEY),
    ("community key misspelt", key_file("ck-secret", "sk-secret").replace(b"COMMUNITY", b"Community"), NO_COMMUNITY_KEY),
    ("byte-order mark before the community key", b'\xef\xbb\xbfCOMMUNITY_KEY = "ck-secret"\nSPONSOR_KEY = "sk"\n', NO_COMMUNITY_KEY),
]


@pytest.mark.parametrize("content, message", [r[1:] for r in KEY_FILE_FAILURES], ids=[r[0] for r in KEY_FILE_FAILURES])
def test_key_file_failures(working_space, content, message):
    if callable(content):
        content(working_space)
    elif content is not None:
        write_key_file(working_space, content)
    expected = message.format(path=working_space + "/auth_key.py")
    for call in (Client, lambda: Client("ck-secret"), lambda: Client(None, "sk-secret")):
        with pytest.raises(RuntimeError) as caught:
            call()
        assert type(caught.value) is RuntimeError
        assert caught.value.args == (expected,)
        assert caught.value.__cause__ is None
        assert caught.value.__context__ is None
        assert "secret" not in str(caught.value)


# Anything but a regular file is refused before it is read: opening a FIFO would wait for a writer
# with the interpreter lock held, and a device such as /dev/zero never ends. A child process bounds
# the damage of a regression: its timeout ends a hang, and its address-space limit an endless read
# (except under AddressSanitizer, which reserves more address space than any such limit).
SPECIAL_FILES = [
    # (id, makes the file at the path, reason)
    ("a FIFO", os.mkfifo, "it is a named pipe (FIFO), not a regular file"),
    ("a link to /dev/zero", lambda path: os.symlink("/dev/zero", path), "it is a character device, not a regular file"),
    ("a link to /dev/urandom", lambda path: os.symlink("/dev/urandom", path),
     "it is a character device, not a regular file"),
]

SPACE_CHILD = """
import resource, types
if not os.environ.get("VEMRAT_PAY_SANITIZED"):
    resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
{setup}
sys.modules["django.conf"] = types.SimpleNamespace(settings=types.SimpleNamespace(WORKING_SPACE={space!r}))
try:
    vemrat_pay.Client()
    result = {{"type": None}}
except BaseException as error:
    result = describe(error)
result.update({extra})
report(result)
"""


@pytest.mark.parametrize("make, reason", [r[1:] for r in SPECIAL_FILES], ids=[r[0] for r in SPECIAL_FILES])
def test_only_a_regular_file_is_read(tmp_path, make, reason):
    make(str(tmp_path / "auth_key.py"))
    result = run_child(SPACE_CHILD.format(setup="", space=str(tmp_path), extra="{}"), cwd=tmp_path)
    assert_module_error(result, CANNOT_READ.format(f"{tmp_path}/auth_key.py", reason))


@pytest.fixture(scope="session")
def latin1_locale(tmp_path_factory):
    """A locale whose encoding is ISO-8859-1 and whose system messages are not all ASCII:
    (the LOCPATH directory, the locale's name)."""
    localedef = shutil.which("localedef")
    if localedef is None:
        pytest.skip("localedef is not installed")
    directory = tmp_path_factory.mktemp("locales")
    name = "pt_BR.ISO-8859-1"
    completed = subprocess.run([localedef, "-i", "pt_BR", "-f", "ISO-8859-1", str(directory / name)],
                               capture_output=True, text=True)
    if completed.returncode != 0:
        pytest.skip(f"cannot build the locale {name}: {completed.stderr.strip()}")
    return str(directory), name


# The system's text comes in the locale's encoding; the message is always valid text. The oracle is
# the interpreter's own os.strerror under the same locale.
LOCALE_SETUP = "import errno, locale\nlocale.setlocale(locale.LC_ALL, {name!r})"
LOCALE_TEXT = '{{"os_text": f"{{os.strerror(errno.{code})}} (os error {{errno.{code}}})"}}'


@pytest.mark.parametrize("make, code", [(None, "ENOENT"), (make_directory, "EISDIR")], ids=["missing", "a directory"])
def test_the_system_text_of_a_latin1_locale_becomes_valid_text(tmp_path, latin1_locale, make, code):
    locales, name = latin1_locale
    if make is not None:
        make(str(tmp_path))
    body = SPACE_CHILD.format(setup=LOCALE_SETUP.format(name=name), space=str(tmp_path),
                              extra=LOCALE_TEXT.format(code=code))
    result = run_child(body, cwd=tmp_path, env={"LOCPATH": locales})
    os_text = result.pop("os_text")
    assert not os_text.isascii(), f"the locale gives an ASCII text, which shows nothing: {os_text!r}"
    assert_module_error(result, CANNOT_READ.format(f"{tmp_path}/auth_key.py", os_text))


KEY_FILES = [
    # (id, content, community key, sponsor key)
    ("LF", key_file("ck-file", "sk-file"), "ck-file", "sk-file"),
    ("CRLF", key_file("ck-file", "sk-file", newline="\r\n"), "ck-file", "sk-file"),
    ("byte-order mark before a comment", key_file("ck-file", "sk-file", prefix="\ufeff"), "ck-file", "sk-file"),
    ("empty values", b'COMMUNITY_KEY = ""\nSPONSOR_KEY =\n', "", ""),
    ("sponsor key first", b"SPONSOR_KEY = 's'\nCOMMUNITY_KEY = 'c'\n", "c", "s"),
    ("non-ASCII", 'COMMUNITY_KEY = "ключ"\nSPONSOR_KEY = "秘密"\n'.encode(), "ключ", "秘密"),
]


@pytest.mark.parametrize(
    "content, community, sponsor", [r[1:] for r in KEY_FILES], ids=[r[0] for r in KEY_FILES]
)
def test_keys_from_the_file(working_space, content, community, sponsor):
    write_key_file(working_space, content)
    assert_holds(request_of(Client()), community, sponsor)


@pytest.mark.parametrize(
    "call",
    [
        lambda: Client(community_key="c"),
        lambda: Client(None, "s"),
        lambda: Client(sponsor_key="s"),
        lambda: Client(None, None),
    ],
    ids=["community key alone", "None and sponsor key", "sponsor key alone", "None and None"],
)
def test_a_key_passed_alone_is_not_used(working_space, call):
    write_key_file(working_space, key_file("ck-file", "sk-file"))
    assert_holds(request_of(call()), "ck-file", "sk-file")


def test_a_key_passed_alone_does_not_stand_in_for_a_missing_one(working_space):
    write_key_file(working_space, key_file(community="ck-file"))
    with pytest.raises(RuntimeError, match=f"^{NO_SPONSOR_KEY}$"):
        Client(community_key="c")
    write_key_file(working_space, key_file(sponsor="sk-file"))
    with pytest.raises(RuntimeError, match=f"^{NO_COMMUNITY_KEY}$"):
        Client(None, sponsor_key="s")


def test_the_file_is_read_by_every_construction(working_space):
    write_key_file(working_space, key_file("ck-1", "sk-1"))
    first = Client()
    write_key_file(working_space, key_file("ck-2", "sk-2"))
    second = Client()
    assert_holds(request_of(first), "ck-1", "sk-1")
    assert_holds(request_of(second), "ck-2", "sk-2")


def test_nul_in_the_working_space_does_not_open_another_file(working_space, monkeypatch):
    # Cut at the NUL, the path would name a readable key file.
    write_key_file(working_space, key_file("ck-file", "sk-file"))
    space = os.path.join(working_space, "auth_key.py") + "\0"
    sys.modules["django.conf"].settings.WORKING_SPACE = space
    with pytest.raises(RuntimeError) as caught:
        Client()
    path = space + "/auth_key.py"
    assert caught.value.args == (CANNOT_READ.format(path, "file name contained a NUL byte"),)


# --- Reference counts -----------------------------------------------------------------------


def test_reference_counts_are_unchanged(tmp_path, monkeypatch):
    write_key_file(tmp_path / "space", key_file("ck-file", "sk-file"))
    write_key_file(tmp_path / "bin", key_file("ck-bin", "sk-bin"))
    space = str(tmp_path / "space")
    missing = str(tmp_path / "missing")
    cwd = str(tmp_path / "space")
    executable = str(tmp_path / "bin" / "python")
    community = "".join(["community", "-key"])
    sponsor = "".join(["sponsor", "-key"])
    number = 10**30
    settings = types.SimpleNamespace(WORKING_SPACE=space)
    conf = types.ModuleType("django.conf")
    conf.settings = settings
    monkeypatch.setitem(sys.modules, "django.conf", conf)
    monkeypatch.setattr(os, "getcwd", lambda: cwd)
    monkeypatch.setattr(sys, "executable", executable)
    watched = [community, sponsor, number, space, missing, cwd, executable, settings, conf]

    def set_space(value):
        def apply():
            if value is None:
                del settings.WORKING_SPACE
            else:
                settings.WORKING_SPACE = value
        return apply

    def set_lan(value):
        def apply():
            if value is None:
                monkeypatch.delenv("IS_LAN", raising=False)
            else:
                monkeypatch.setenv("IS_LAN", value)
        return apply

    scenarios = [
        # (preparation, construction, expected exception or None)
        (set_space(space), lambda: Client(community, sponsor), None),
        (set_space(space), lambda: Client(community), None),
        (set_space(space), lambda: Client(None, sponsor), None),
        (set_space(missing), lambda: Client(community), RuntimeError),
        (set_space(space), lambda: Client(community, number), TypeError),
        (set_space(space), lambda: Client(number, sponsor), TypeError),
        (set_space(None), lambda: Client(community), None),  # the current directory
        (set_lan("true"), lambda: Client(sponsor_key=sponsor), None),  # the interpreter's directory
        (set_lan("false"), lambda: Client(community), None),
    ]
    for prepare, construct, raises in scenarios:
        prepare()
        construct() if raises is None else pytest.raises(raises, construct)  # warm up
        before = [sys.getrefcount(o) for o in watched]
        for _ in range(300):
            if raises is None:
                construct()
            else:
                try:
                    construct()
                except raises:
                    pass
        after = [sys.getrefcount(o) for o in watched]
        assert after == before, [type(o).__name__ for o, b, a in zip(watched, before, after) if a != b]
