"""What scripts/test.sh decides before it runs pytest: the browser is installed when a selected
test needs it, whatever else the selection holds."""

import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

pytestmark = pytest.mark.source


@pytest.mark.parametrize(
    "arguments, selected",
    [
        (["tests/test_browser.py"], True),
        (["tests/test_browser.py", "-x"], True),
        (["tests/test_browser.py::test_a_payer_checks_out_in_the_example_shop_and_sees_the_order_paid"], True),
        (["tests/test_module.py", "tests/test_browser.py"], True),
        (["tests/test_module.py"], False),
        (["tests/test_browser.py", "-k", "no_such_test"], False),
    ],
    ids=["the browser file", "with -x", "one browser test", "among others", "none", "deselected"],
)
def test_the_browser_is_wanted_when_a_selected_test_takes_it(arguments, selected):
    if not (ROOT / ".venv" / "bin" / "python").exists():
        pytest.skip("the development venv of scripts/test.sh is not there")
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    # As scripts/test.sh runs it: under errexit, nounset and pipefail.
    run = subprocess.run(
        ["bash", "-c", 'set -euo pipefail; source scripts/lib/env.sh; browser_tests_selected "$@"', "bash", *arguments],
        cwd=ROOT, env=environment, capture_output=True, text=True, timeout=300,
    )
    assert run.returncode == (0 if selected else 1), run.stderr
