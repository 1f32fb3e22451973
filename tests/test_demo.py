"""The demo of the README's main command runs the whole flow and says so."""

import subprocess
import sys
from pathlib import Path

DEMO = Path(__file__).parents[1] / "examples" / "demo.py"


def test_demo_runs_the_payment_flow():
    run = subprocess.run([sys.executable, DEMO], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    steps = [line for line in run.stdout.splitlines() if line.startswith("[ok] ")]
    assert len(steps) == 10, run.stdout
    assert "callback received and verified" in run.stdout
    assert run.stdout.rstrip().endswith("The payment flow behaved at every step.")
