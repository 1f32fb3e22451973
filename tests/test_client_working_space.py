"""Client construction without both keys: where the key file is looked for (Django's
WORKING_SPACE, else IS_LAN's choice between the interpreter's and the current directory), and
which failures of that search reach the caller and which fall back.
"""

import errno
import os
import sys
import types

import pytest

from client_support import (
    CANNOT_READ,
    DJANGO_DIR,
    KEYS_OF,
    MODULE_DIR,
    assert_loaded,
    assert_module_error,
    key_file,
    os_text,
    run_child,
    write_key_file,
)

import vemrat_pay


# --- Where the key file is looked for -------------------------------------------------------

@pytest.fixture
def places(tmp_path):
    """A working-space directory and a current directory, each with its own key file."""
    space = tmp_path / "space"
    cwd = tmp_path / "cwd"
    write_key_file(space, key_file("ck-space", "sk-space"))
    write_key_file(cwd, key_file("ck-cwd", "sk-cwd"))
    return types.SimpleNamespace(space=str(space), cwd=str(cwd), root=tmp_path)


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
    # django.conf imported first: from Python 3.14 on, importing subprocess (which Django's
    # import does) reads os.environ itself, and a failed import of django.conf is the caller's.
    ("environ missing", "true", "import django.conf\ndel os.environ"),
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
