"""The shipped stub matches the built module, and type checkers find it."""

import subprocess
import sys
import textwrap


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=cwd)


def test_stubtest_finds_no_difference():
    result = run("mypy.stubtest", "vemrat_pay")
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_uses_the_stub(tmp_path):
    (tmp_path / "use.py").write_text(
        textwrap.dedent(
            """
            import vemrat_pay

            client = vemrat_pay.Client("ck", "sk")
            result: vemrat_pay.PaymentResult = client.create_payment(10.0, "CNY", "acct", "https://x/cb")
            status = client.query_order(result.order_id)
            code: int = status.pay_status
            fields: dict[str, str] = client.verify_callback("{}", "sig")
            wrong: int = result.pay_url
            """
        )
    )
    result = run("mypy", "--strict", "--no-incremental", "use.py", cwd=tmp_path)
    assert result.returncode == 1, result.stdout
    # The only error is the deliberate one: pay_url is a str.
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 1 and "use.py:9" in errors[0] and '"str"' in errors[0], result.stdout
