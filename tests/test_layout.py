"""The layers of src/ as the include graph shows them: the pure core never includes the Python
boundary, and no two folders include each other in a cycle. scripts/include_graph.py prints the
graph; here it runs on the source tree and on copies with one include added against the rules."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SCRIPT = ROOT / "scripts" / "include_graph.py"

pytestmark = pytest.mark.source


def include_graph(src):
    return subprocess.run([sys.executable, str(SCRIPT), str(src)], capture_output=True, text=True, timeout=60)


def test_the_source_tree_keeps_its_layers():
    completed = include_graph(ROOT / "src")
    assert completed.returncode == 0, completed.stderr
    edges = completed.stdout.splitlines()
    assert any(line.startswith("operations -> classes ") for line in edges)
    assert not any(line.startswith("core") and " -> core" not in line for line in edges)


BROKEN = [
    # (file that gets the include, include added, error expected)
    ("core/text/hex.hpp", "python/error.hpp", "the pure core includes the boundary: core/text -> python"),
    ("classes/client.hpp", "operations/exchange.hpp", "folders include each other in a cycle: classes, operations"),
    ("core/json/value.hpp", "core/service/envelope.hpp", "folders include each other in a cycle: core/json, core/service"),
]


@pytest.mark.parametrize("file, include, error", BROKEN, ids=[row[2].split(":")[0] + ": " + row[0] for row in BROKEN])
def test_an_include_against_the_rules_is_reported(tmp_path, file, include, error):
    src = tmp_path / "src"
    shutil.copytree(ROOT / "src", src)
    target = src / file
    target.write_text(f'#include "{include}"\n' + target.read_text(encoding="utf-8"), encoding="utf-8")
    completed = include_graph(src)
    assert completed.returncode == 1
    assert f"error: {error}" in completed.stderr.splitlines()
