"""pytest fixtures for shops on these integrations:

    # conftest.py
    pytest_plugins = ["vemrat_pay_sqlalchemy.pytest_plugin"]

    def test_checkout(payment_sandbox): ...

`payment_sandbox`: a running `testing.PaymentSandbox` for the test, with
VEMRAT_PAY_BASE_URL pointing at it.
"""

from __future__ import annotations

from collections.abc import Iterator

import pytest

from .testing import PaymentSandbox


@pytest.fixture
def payment_sandbox() -> Iterator[PaymentSandbox]:
    with PaymentSandbox() as sandbox:
        yield sandbox
