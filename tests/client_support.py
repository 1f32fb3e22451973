"""What the tests of Client construction share: key files, the probe that shows which keys a
client holds, and the child interpreter in which cases that import Django, change the
environment or patch os/sys run, so that nothing (Django settings above all) leaks between tests.
"""

import hashlib
import hmac
import http.server
import importlib.util
import os
import sys
import threading
import urllib.parse

import pytest

from child_process import report_of, run_python

import vemrat_pay

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
    from client_support import request_of
    return {{"type": None, "request": request_of(client)}}

def report(value):
    print(json.dumps(value))
"""

CLEARED_VARIABLES = {"IS_LAN", "DJANGO_SETTINGS_MODULE", "VEMRAT_PAY_BASE_URL", "PYTHONPATH", "PYTHONSTARTUP"}


def run_child(body, cwd, env=None, executable=sys.executable, flags=()):
    """Runs `body` after CHILD_PRELUDE; returns what it passed to report()."""
    cleared = {name: None for name in os.environ if name in CLEARED_VARIABLES or name.lower().endswith("_proxy")}
    completed = run_python(body, prelude=CHILD_PRELUDE, env={**cleared, **(env or {})}, cwd=cwd,
                           executable=executable, flags=flags)
    return report_of(completed)


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


KEYS_OF = {"space": ("ck-space", "sk-space"), "cwd": ("ck-cwd", "sk-cwd"), "bin": ("ck-bin", "sk-bin")}
