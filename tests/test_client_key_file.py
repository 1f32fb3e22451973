"""Client construction from auth_key.py: what is read, what is refused with which message, and
the reference counts of everything the construction touches.
"""

import errno
import os
import shutil
import subprocess
import sys
import types

import pytest

from client_support import (
    CANNOT_READ,
    NO_COMMUNITY_KEY,
    NO_SPONSOR_KEY,
    assert_holds,
    assert_module_error,
    key_file,
    os_text,
    request_of,
    run_child,
    write_key_file,
)

from vemrat_pay import Client


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
