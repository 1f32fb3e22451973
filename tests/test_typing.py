"""The shipped stub matches the built module, and type checkers find it."""

import subprocess
import sys
import textwrap

import pytest


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=cwd)


def test_stubtest_finds_no_difference():
    result = run("mypy.stubtest", "vemrat_pay")
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_uses_the_stub(tmp_path):
    source = textwrap.dedent(
        """
        from decimal import Decimal
        from fractions import Fraction

        import vemrat_pay

        client = vemrat_pay.Client("ck", "sk")
        result: vemrat_pay.PaymentResult = client.create_payment(10.0, "CNY", "acct", "https://x/cb")
        status = client.query_order(result.order_id)
        code: int = status.pay_status
        fields: dict[str, str] = client.verify_callback("{}", "sig")
        for amount in (10, Decimal("10.00"), Fraction(21, 2), True):
            client.create_payment(amount, "CNY", "acct", "https://x/cb")
        wrong: int = result.pay_url  # deliberate error: pay_url is a str
        client.create_payment("10.00", "CNY", "acct", "https://x/cb")  # deliberate error: a str amount
        """
    )
    (tmp_path / "use.py").write_text(source)
    result = run("mypy", "--strict", "--no-incremental", "use.py", cwd=tmp_path)
    assert result.returncode == 1, result.stdout
    deliberate = [f"use.py:{n}" for n, line in enumerate(source.splitlines(), 1) if "# deliberate error" in line]
    errors = [line.split(": error:")[0] for line in result.stdout.splitlines() if ": error:" in line]
    assert errors == deliberate, result.stdout


@pytest.mark.companion
def test_keepalive_package_is_strictly_typed(tmp_path):
    # Checked as installed: mypy finds an installed package only when it ships py.typed.
    result = run("mypy", "--strict", "--no-incremental", "-p", "vemrat_pay_keepalive", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_ledger_package_is_strictly_typed(tmp_path):
    result = run("mypy", "--strict", "--no-incremental", "-p", "vemrat_pay_ledger", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
