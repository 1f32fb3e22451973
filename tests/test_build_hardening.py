"""How the module was compiled, read from what was built (scripts/lib/check_hardening.py): the
module that is imported names no path of the machine that built it and enters its code through an
indirect-branch target (CET), and the object files of the development build carry a stack
protector, calls checked by _FORTIFY_SOURCE and the CET notes."""

import importlib.util
import os
from pathlib import Path

import pytest

import vemrat_pay

pytest.importorskip("elftools")

ROOT = Path(__file__).resolve().parent.parent
CHECKER = ROOT / "scripts" / "lib" / "check_hardening.py"
spec = importlib.util.spec_from_file_location("check_hardening", CHECKER)
check_hardening = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_hardening)


def test_the_imported_module_names_no_build_path_and_has_cet_entry():
    if os.environ.get("VEMRAT_PAY_SANITIZED") == "1":
        pytest.skip("the sanitizers' own records of source locations keep the compiler's paths; "
                    "the sanitized build is for tests only")
    assert check_hardening.module_problems(vemrat_pay.__file__) == []


def test_the_objects_of_the_development_build_are_hardened():
    # scikit-build-core's tree beside the module it installed (build/<wheel tag>).
    module = Path(vemrat_pay.__file__).name
    trees = [tree for tree in (ROOT / "build").glob("cp3*") if (tree / module).exists()]
    if not trees:
        pytest.skip("no development build tree of this module (bash scripts/test.sh makes one)")
    problems, counts, fortified = check_hardening.object_problems(trees[0])
    assert problems == [], counts
    assert fortified


@pytest.mark.parametrize(
    "text, found",
    [
        (b"\0src/operations/verify_callback.cpp\0", []),
        (b"\0/home/ci/vemrat-pay/src/operations/verify_callback.cpp\0",
         ["/home/ci/vemrat-pay/src/operations/verify_callback.cpp"]),
        (b"\0/tmp/pip-install-x/vemrat-pay_1/src/lib.cpp\0", ["/tmp/pip-install-x/vemrat-pay_1/src/lib.cpp"]),
        (b"\0/usr/lib/ssl/cert.pem\0", []),
    ],
    ids=["relative", "a checkout", "pip's unpack", "a system path"],
)
def test_the_path_check_tells_absolute_source_paths_from_others(text, found):
    assert check_hardening.absolute_source_paths(text) == found
