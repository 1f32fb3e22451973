"""The ledger stays framework-free: scripts/ledger_imports.py lists its imports and fails on any
import beyond the standard library, vemrat_pay and itself."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent.parent
SCRIPT = ROOT / "scripts" / "ledger_imports.py"
PACKAGE = ROOT / "python" / "vemrat_pay_ledger"


def run(package: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, str(SCRIPT), str(package)], capture_output=True,
                          text=True, timeout=60)


def test_the_ledger_imports_no_framework():
    result = run(PACKAGE)
    assert result.returncode == 0, result.stderr
    assert "ledger.py -> functools" in result.stdout.splitlines()
    assert result.stderr == ""


@pytest.mark.parametrize(("source", "named"), [
    ("import django.db\n", "django.db"),
    ("from sqlalchemy.orm import Session\n", "sqlalchemy.orm"),
    ("def later():\n    import flask\n", "flask"),
    ("from fastapi import FastAPI\n", "fastapi"),
    ("from vemrat_pay_django.models import Payment\n", "vemrat_pay_django.models"),
    ("import importlib\nimportlib.import_module('django')\n", "<computed: importlib.import_module('django')>"),
])
def test_an_import_of_a_framework_fails_the_check(tmp_path, source, named):
    package = tmp_path / "vemrat_pay_ledger"
    shutil.copytree(PACKAGE, package)
    with (package / "transitions.py").open("a", encoding="utf-8") as file:
        file.write(source)
    result = run(package)
    assert result.returncode == 1
    assert f"transitions.py:" in result.stderr and f"imports {named}" in result.stderr, result.stderr
