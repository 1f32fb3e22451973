"""A fresh interpreter for a test case that must not share this process: one that changes
settings, modules or the environment for good, or that may crash or hang when it fails."""

import json
import os
import subprocess
import sys
import textwrap


def run_python(code, *, prelude="", env=None, cwd=None, executable=sys.executable, flags=(), timeout=240):
    """Runs `prelude` and then `code` (each dedented) in a new interpreter; returns the completed
    process with its standard output and error as text. `env` changes this process's
    environment: a name given None is removed."""
    environment = dict(os.environ)
    for name, value in (env or {}).items():
        if value is None:
            environment.pop(name, None)
        else:
            environment[name] = value
    return subprocess.run(
        [executable, *flags, "-c", textwrap.dedent(prelude) + textwrap.dedent(code)],
        cwd=cwd,
        env=environment,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def report_of(completed):
    """What a child that exited normally printed last, as JSON."""
    assert completed.returncode == 0, f"child exited with {completed.returncode}\n{completed.stderr[-4000:]}"
    return json.loads(completed.stdout.splitlines()[-1])
