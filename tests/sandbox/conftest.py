import os
import sys

try:
    import vemrat_pay_sandbox  # noqa: F401  (installed with the wheel)
except ImportError:
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "python"))

import pytest

from vemrat_pay_sandbox import Sandbox
from wire import CallbackReceiver, Merchant

MERCHANTS = {"ck-one": "sk-one", "ck-two": "sk-two"}
# Three attempts in all, close together.
RETRY_DELAYS = (0.01, 0.02)


@pytest.fixture
def sandbox():
    with Sandbox(merchants=MERCHANTS, db=":memory:", retry_delays=RETRY_DELAYS) as running:
        yield running


@pytest.fixture
def merchant(sandbox):
    return Merchant(sandbox.base_url, "ck-one", "sk-one")


@pytest.fixture
def receiver():
    with CallbackReceiver() as running:
        yield running
