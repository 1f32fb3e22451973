"""Runs the native unit tests of the pure code (built by scripts/test.sh)."""

import os
import subprocess
from pathlib import Path

import pytest

NATIVE_TESTS = Path(os.environ.get("VEMRAT_PAY_NATIVE_TESTS", Path(__file__).parents[1] / "build/native/native_tests"))

pytestmark = pytest.mark.source


def test_native_unit_tests_pass():
    if not NATIVE_TESTS.exists():
        pytest.fail(f"native tests not built: {NATIVE_TESTS} (run scripts/test.sh)")
    run = subprocess.run([NATIVE_TESTS], capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stdout + run.stderr
