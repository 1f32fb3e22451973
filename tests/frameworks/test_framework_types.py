"""The integrations and the example shops are clean under mypy --strict."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# The same result whichever build is installed: the pytest stage alone runs it.
pytestmark = pytest.mark.source


def mypy(*arguments: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           *arguments], capture_output=True, text=True, timeout=600, cwd=cwd)


def test_the_packages_are_strictly_typed(tmp_path: Path) -> None:
    # Checked as installed: mypy finds an installed package only when it ships py.typed.
    result = mypy("-p", "vemrat_pay_sqlalchemy", "-p", "vemrat_pay_fastapi", "-p",
                  "vemrat_pay_flask", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("shop", ["fastapi_shop", "flask_shop"])
def test_the_example_shop_is_strictly_typed(shop: str) -> None:
    result = mypy("run.py", "shop", cwd=EXAMPLES / shop)
    assert result.returncode == 0, result.stdout + result.stderr
