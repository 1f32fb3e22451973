"""A key file whose read blocks (a file on NFS or FUSE that does not answer) must not freeze the
process: the other threads run while Client() waits, a signal handler runs between the retries of
the interrupted read, and Ctrl-C's KeyboardInterrupt reaches the caller.

/proc/kmsg is such a file here: a regular file whose read waits for the next kernel message,
readable by root. Its read never ends by itself, so Client() returns only through the interrupt.
"""

import os

import pytest

from client_support import run_child

BLOCKING_FILE = "/proc/kmsg"


def blocking_file_readable():
    try:
        os.close(os.open(BLOCKING_FILE, os.O_RDONLY | os.O_NONBLOCK))
    except OSError:
        return False
    return os.path.exists(f"/proc/self/task/{os.getpid()}/syscall")


BLOCKED_CLIENT = """
import faulthandler, signal, threading, time, types
# Before the fix this child hangs with the interpreter lock held: the watchdog's thread needs no
# lock, shows where it hung, and ends the child.
faulthandler.dump_traceback_later(120, exit=True)
signal.signal(signal.SIGINT, signal.default_int_handler)
handled = []
signal.signal(signal.SIGUSR1, lambda number, frame: handled.append("SIGUSR1"))
sys.modules["django.conf"] = types.SimpleNamespace(settings=types.SimpleNamespace(WORKING_SPACE=os.getcwd()))
main = threading.main_thread()
seen = []

def blocked_in_read():
    # /proc/.../syscall: the number and arguments of the system call the thread waits in, else
    # "running"; the first argument of a read is its file descriptor.
    with open(f"/proc/self/task/{main.native_id}/syscall") as status:
        fields = status.read().split()
    if len(fields) < 2 or not fields[1].startswith("0x"):
        return False
    try:
        return os.readlink(f"/proc/self/fd/{int(fields[1], 16)}") == BLOCKING_FILE
    except OSError:
        return False

def wait_for(condition, what):
    deadline = time.monotonic() + 60
    while not condition():
        if time.monotonic() > deadline:
            seen.append("timed out waiting for " + what)
            return False
        time.sleep(0.01)
    return True

def other_thread():
    if not wait_for(blocked_in_read, "the read"):
        return
    seen.append("ran while Client() read")
    # A handler that returns: the read goes on.
    signal.pthread_kill(main.ident, signal.SIGUSR1)
    if not (wait_for(lambda: handled, "the handler") and wait_for(blocked_in_read, "the read again")):
        return
    seen.append("the read went on after the handler")
    signal.pthread_kill(main.ident, signal.SIGINT)

threading.Thread(target=other_thread, daemon=True).start()
try:
    vemrat_pay.Client()
    outcome = "Client() returned"
except BaseException as error:
    outcome = describe(error)
report({"outcome": outcome, "seen": seen, "handled": handled})
"""


@pytest.mark.skipif(not blocking_file_readable(), reason=f"{BLOCKING_FILE} cannot be read (it needs root)")
def test_a_blocking_read_lets_other_threads_run_and_an_interrupt_reach_the_caller(tmp_path):
    os.symlink(BLOCKING_FILE, tmp_path / "auth_key.py")
    result = run_child(f"BLOCKING_FILE = {BLOCKING_FILE!r}\n" + BLOCKED_CLIENT, cwd=tmp_path)
    assert result["seen"] == ["ran while Client() read", "the read went on after the handler"], result
    assert result["handled"] == ["SIGUSR1"]
    # The interpreter's own KeyboardInterrupt, not a message of the module.
    assert result["outcome"] == {"type": "KeyboardInterrupt", "message": "", "args": [], "cause": "None",
                                 "context": "None"}
