"""A source build that lacks something stops at configuration, naming what is missing and the
package that provides it."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
CMAKE = shutil.which("cmake", path=str(Path(sys.executable).parent)) or shutil.which("cmake")
NINJA = shutil.which("ninja", path=str(Path(sys.executable).parent)) or shutil.which("ninja")

pytestmark = [
    pytest.mark.source,
    pytest.mark.skipif(CMAKE is None or NINJA is None or not (ROOT / "CMakeLists.txt").exists(),
                       reason="the source build's checks need CMake, Ninja and the source tree"),
]


def configure(build, *arguments, env=None):
    # The compiler CMake tries runs without the sanitizer runtime that the sanitizer run preloads
    # into this process: under it, the compiler's own leaks fail every compilation.
    environment = {name: value for name, value in os.environ.items() if name not in ("LD_PRELOAD", "CXX")}
    environment.update(env or {})
    return subprocess.run([CMAKE, "-S", ROOT, "-B", build, "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={NINJA}", *arguments],
                          capture_output=True, text=True, timeout=600, env=environment)


# A machine without a compiler: nothing on PATH (CMake and Ninja are named by their full paths).
# pip's build frontend sets CXX from the interpreter's configuration, g++ for most builds.
NO_COMPILER = [
    ({"CXX": "g++"}, "g++ (named by the environment variable CXX) is not on PATH"),
    ({}, "none (c++, g++, clang++) is on PATH"),
]


@pytest.mark.parametrize("env, looked", NO_COMPILER, ids=["CXX=g++", "CXX unset"])
def test_a_missing_compiler_is_named_with_its_packages(tmp_path, env, looked):
    (tmp_path / "empty").mkdir()
    run = configure(tmp_path / "build", env={"PATH": str(tmp_path / "empty"), **env})
    assert run.returncode != 0
    message = " ".join(run.stderr.split())
    assert f"vemrat_pay needs a C++ compiler, and {looked}" in message, run.stderr
    for fragment in ["GCC 12 or newer", "apt install g++", "dnf install gcc-c++", "gcc-toolset-13", "brew install llvm",
                     "install the wheel"]:
        assert fragment in message, run.stderr
    assert "Could not find the compiler" not in message


@pytest.mark.parametrize(
    "arguments, expected",
    [
        (
            ["-DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON"],
            ["OpenSSL 3.0 or newer", "apt install libssl-dev", "dnf install openssl-devel", "brew install openssl@3"],
        ),
        (
            # A standard library that cannot be found stands for one without std::expected.
            ["-DCMAKE_CXX_FLAGS=-nostdinc++"],
            ["C++23 compiler and standard library with std::expected", "GCC 12 or newer", "Clang 19 or newer",
             "apt install g++-12", "dnf install gcc-c++", "gcc-toolset-13", "brew install llvm"],
        ),
        (
            [f"-DPython_EXECUTABLE={sys.executable}", "-DPython_INCLUDE_DIR=/nonexistent"],
            [f"the C headers of Python {sys.version_info.major}.{sys.version_info.minor}",
             f"apt install python{sys.version_info.major}.{sys.version_info.minor}-dev",
             f"dnf install python{sys.version_info.major}.{sys.version_info.minor}-devel", "Homebrew"],
        ),
    ],
    ids=["openssl", "c++23", "python-headers"],
)
def test_a_missing_requirement_is_named_with_its_packages(tmp_path, arguments, expected):
    run = configure(tmp_path, *arguments)
    assert run.returncode != 0
    message = " ".join(run.stderr.split())
    assert "vemrat_pay needs" in message, run.stderr
    for fragment in expected:
        assert fragment in message, run.stderr


def test_a_complete_machine_configures(tmp_path):
    run = configure(tmp_path, f"-DPython_EXECUTABLE={sys.executable}")
    assert run.returncode == 0, run.stdout + run.stderr
    assert "vemrat_pay needs" not in run.stderr
