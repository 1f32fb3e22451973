#!/usr/bin/env bash
# Installs the release files as a merchant would and runs the pytest suite against what was
# installed, not against the build tree (scripts/lib/install.sh): for each Python of
# $PYTHON_VERSIONS, a fresh venv gets the wheel pip would take from dist/ (the 3.11 wheel, or the
# abi3 wheel for 3.12 and later) with no compiler reachable; then a fresh Python 3.13 venv builds and installs the
# sdist with the compiler present, and one without a compiler is told what is missing. Builds
# dist/ first (scripts/dist.sh). Extra arguments go to pytest. The later Pythons are
# scripts/install_debian.sh's.
#
# What each install runs (the marks are described in pyproject.toml): the pytest stage has run
# every test on Python $DEV_PYTHON against the development build. Each installed module runs the
# module's tests; the wheels for the other Pythons also run those of the companion packages, with
# the Django app on one Django and one database. The tests of the source tree and the scripts,
# the browser's, and the Django app's other versions and databases are the pytest stage's alone.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
source "$ROOT/scripts/lib/install.sh"
cd "$ROOT"

ensure_system_packages "${TEST_SYSTEM_PACKAGES[@]}"
# Only the wheels tested here: the aarch64 ones are scripts/install_aarch64.sh's, which builds them.
VEMRAT_PAY_WHEEL_ARCHITECTURES=x86_64 bash scripts/dist.sh
ensure_venv
ensure_django_lts

INSTALL_WORK=$(mktemp -d)
work=$INSTALL_WORK
trap 'rm -rf "$work"' EXIT
no_compiler=$(no_compiler_path)

for version in "${PYTHON_VERSIONS[@]}"; do
    if [ "$version" = "$DEV_PYTHON" ]; then selection=$MODULE_TESTS; else selection=$ALL_INSTALLED_TESTS; fi
    install_wheel_and_test "Python $version wheel" "$(find_python "$version")" "$(wheel_for "$version" x86_64)" \
        "$selection" "$@"
done

log "Python $DEV_PYTHON: building and installing the sdist with the compiler"
venv="$work/sdist"
"$(find_python "$DEV_PYTHON")" -m venv "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-test.txt dist/*.tar.gz
run_suite "Python $DEV_PYTHON sdist" "$venv" "$MODULE_TESTS" "$@"

log "Python $DEV_PYTHON: the sdist where no compiler is reachable stops, naming what is missing"
venv="$work/sdist-no-compiler"
"$(find_python "$DEV_PYTHON")" -m venv "$venv"
# As on a merchant's machine: no CXX of ours (the build frontend sets it from the interpreter's
# configuration), the build tools from PyPI in pip's build environment.
if PATH="$venv/bin:$no_compiler" "$venv/bin/python" -m pip install --disable-pip-version-check dist/*.tar.gz \
    >"$work/no-compiler.log" 2>&1; then
    echo "error: the sdist installed with no compiler reachable" >&2
    exit 1
fi
told=$(tr -s ' \n' ' ' <"$work/no-compiler.log")
if [[ "$told" != *"vemrat_pay needs a C++ compiler, and "*"apt install g++"* ]]; then
    cat "$work/no-compiler.log" >&2
    echo "error: the sdist with no compiler did not say what is missing" >&2
    exit 1
fi
log "Python $DEV_PYTHON sdist, no compiler: $(grep -o 'vemrat_pay needs a C++ compiler[^.]*' <<<"$told")"
