"""The Django example shop: its own test suite against a live sandbox, its migrations, its types."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

pytestmark = pytest.mark.companion

SHOP = Path(__file__).resolve().parent.parent / "examples" / "django_shop"


def run(*args: str) -> subprocess.CompletedProcess[str]:
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("DJANGO_SETTINGS_MODULE", "VEMRAT_PAY_BASE_URL")}
    return subprocess.run([sys.executable, *args], cwd=SHOP, env=environment,
                          capture_output=True, text=True, timeout=300)


def test_the_shop_test_suite_passes():
    result = run("manage.py", "test", "shop", "--noinput")
    output = result.stdout + result.stderr
    assert result.returncode == 0, output
    ran = re.search(r"^Ran (\d+) tests?", output, re.MULTILINE)
    assert ran and int(ran.group(1)) > 0, output
    assert re.search(r"^OK\b", output, re.MULTILINE), output


@pytest.mark.parametrize("command", [
    ("manage.py", "check", "--fail-level", "WARNING"),
    ("manage.py", "makemigrations", "--check", "--dry-run", "shop"),
], ids=["system checks", "migrations match the models"])
def test_the_project_is_consistent(command):
    result = run(*command)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.source
def test_the_shop_passes_mypy_strict():
    result = run("-m", "mypy", "--config-file", "mypy.ini", "manage.py", "django_shop", "shop")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success: no issues found" in result.stdout, result.stdout
