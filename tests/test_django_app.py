"""The reusable Django app: its own suite under the newest Django and Django 5.2 LTS, on SQLite
and on a PostgreSQL server it starts, and its types under mypy --strict."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

pytestmark = pytest.mark.companion

ROOT = Path(__file__).resolve().parent.parent
SUITE = ROOT / "tests" / "django_app"

# scripts/test.sh installs Django 5.2 into a directory of its own and names it here; the
# venv's own Django is the newest release.
LTS = os.environ.get("VEMRAT_PAY_DJANGO_LTS")


def environment(django_version: str) -> dict[str, str]:
    env = {name: value for name, value in os.environ.items()
           if name not in ("DJANGO_SETTINGS_MODULE", "VEMRAT_PAY_BASE_URL")}
    if django_version == "5.2":
        if not LTS:
            pytest.skip("Django 5.2 is not set up: bash scripts/test.sh installs it and sets "
                        "VEMRAT_PAY_DJANGO_LTS")
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [LTS, env.get("PYTHONPATH")]))
    return env


# The newest Django on PostgreSQL everywhere; the other three only in the pytest stage.
@pytest.mark.parametrize("django_version, database", [
    ("newest", "postgresql"),
    pytest.param("newest", "sqlite", marks=pytest.mark.variant),
    pytest.param("5.2", "postgresql", marks=pytest.mark.variant),
    pytest.param("5.2", "sqlite", marks=pytest.mark.variant),
])
def test_the_app_suite_passes(django_version, database):
    if database == "postgresql" and not list(Path("/usr/lib/postgresql").glob("*/bin/pg_ctl")):
        pytest.skip("PostgreSQL's server is not installed (bash scripts/test.sh installs it)")
    result = subprocess.run([sys.executable, str(SUITE / "run.py"), f"--database={database}", "-q"],
                            env=environment(django_version), capture_output=True, text=True,
                            timeout=900)
    output = result.stdout + result.stderr
    assert result.returncode == 0, output
    header = re.search(r"^vemrat_pay_django suite: Django (\S+) on (\S+)$", output, re.MULTILINE)
    assert header, output
    assert header.group(2) == database
    if django_version == "5.2":
        assert header.group(1).startswith("5.2"), output
    assert re.search(r"^\d+ passed", output, re.MULTILINE), output
    if database == "postgresql":
        assert " skipped" not in output, output


@pytest.mark.source
def test_the_app_passes_mypy_strict():
    result = subprocess.run([sys.executable, "-m", "mypy", "--config-file",
                             str(SUITE / "mypy.ini"), str(ROOT / "python" / "vemrat_pay_django")],
                            cwd=ROOT, capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success: no issues found" in result.stdout, result.stdout
