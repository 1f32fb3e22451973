"""The sandbox ships its types: mypy --strict finds the installed package clean and uses it."""

import subprocess
import sys
import textwrap


def mypy(*args, cwd):
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", *args],
                          capture_output=True, text=True, timeout=300, cwd=cwd)


def test_the_package_passes_mypy_strict(tmp_path):
    # Run from elsewhere, so that mypy finds the package as installed, through its py.typed.
    result = mypy("-p", "vemrat_pay_sandbox", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_a_merchants_test_code_is_checked_against_the_sandbox_types(tmp_path):
    (tmp_path / "use.py").write_text(textwrap.dedent(
        """
        from typing import Any

        from vemrat_pay_sandbox import Sandbox, make_callback

        with Sandbox({"ck": "sk"}, retry_delays=(0.1,)) as sandbox:
            base_url: str = sandbox.base_url
            rule: dict[str, Any] = sandbox.add_fault("error", "payment", status=503)
            sandbox.wait_for_callbacks(timeout=5)
            orders: list[dict[str, Any]] = sandbox.orders()
            body, signature = make_callback("sk", status="paid", order_id="A", amount="1.00")
            wrong: int = sandbox.base_url
        """))
    result = mypy("use.py", cwd=tmp_path)
    assert result.returncode == 1, result.stdout
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 1 and "use.py:12" in errors[0] and '"str"' in errors[0], result.stdout
