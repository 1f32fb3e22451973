#!/usr/bin/env bash
# Installs the release files as a merchant would and runs the pytest suite against what was
# installed, not against the build tree: for each supported Python, a fresh venv gets its wheel
# from dist/ with no compiler reachable; then a fresh Python 3.13 venv builds and installs the
# sdist with the compiler present, and one without a compiler is told what is missing. Builds
# dist/ first (scripts/dist.sh). Extra arguments go to pytest.
#
# What each install runs (the marks are described in pyproject.toml): the pytest stage has run
# every test on Python $DEV_PYTHON against the development build. Each installed module runs the
# module's tests; the wheels for the other Pythons also run those of the companion packages, with
# the Django app on one Django and one database. The tests of the source tree and the scripts,
# the browser's, and the Django app's other versions and databases are the pytest stage's alone.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

MODULE_TESTS="not source and not companion"
ALL_INSTALLED_TESTS="not source and not variant and not browser"

ensure_system_packages "${TEST_SYSTEM_PACKAGES[@]}"
bash scripts/dist.sh
ensure_venv
ensure_django_lts

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A PATH with every program of the system's bin directories but the compilers, linkers and build
# tools.
no_compiler="$work/no-compiler-bin"
mkdir -p "$no_compiler"
for directory in /usr/local/bin /usr/bin /bin /usr/sbin /sbin; do
    for program in "$directory"/*; do
        name=$(basename "$program")
        case "$name" in
            cc|c++|cpp|c89|c99|gcc*|g++*|*-gcc*|*-g++*|*-cpp*|clang*|*-clang*|ld|ld.*|*-ld|*-ld.*|as|*-as|\
            cmake|ctest|cpack|ninja|make|zig|tcc|rustc|cargo) continue ;;
        esac
        if [ -x "$program" ] && [ ! -e "$no_compiler/$name" ]; then ln -s "$program" "$no_compiler/$name"; fi
    done
done

# run_suite NAME VENV SELECTION: the pytest suite's tests that SELECTION (-m) takes, from outside
# the source tree, so that only the installed module can be imported.
run_suite() {
    local name=$1 venv=$2 selection=$3 loaded started=$SECONDS
    shift 3
    log "$name: $("$venv/bin/python" -m pip show -f vemrat-pay | sed -n '/^Files:/,$p' | tr -s ' \n' ' ')"
    loaded=$(cd "$work" && "$venv/bin/python" -c 'import vemrat_pay; print(vemrat_pay.__file__)')
    case "$loaded" in
        "$venv/"*) log "$name: import vemrat_pay loads $loaded" ;;
        *) echo "error: import vemrat_pay loads $loaded, not the installed module" >&2; return 1 ;;
    esac
    log "$name: pytest -m \"$selection\""
    (cd "$work" && "$venv/bin/python" -m pytest -q -p no:cacheprovider --rootdir="$ROOT" -m "$selection" "$ROOT/tests" "$@")
    log "$name: $((SECONDS - started)) s"
}

for version in "${PYTHON_VERSIONS[@]}"; do
    wheel=$(ls dist/*-cp"${version//./}"-cp"${version//./}"-*.whl)
    venv="$work/wheel-$version"
    "$(find_python "$version")" -m venv "$venv"
    (
        export PATH="$venv/bin:$no_compiler" CC=false CXX=false
        for tool in cc c++ gcc g++ clang clang++ cmake ninja ld; do
            if type -P "$tool" >/dev/null; then echo "error: $tool is reachable: $(type -P "$tool")" >&2; exit 1; fi
        done
        log "Python $version: no compiler reachable (cc, c++, gcc, g++, clang, cmake, ninja, ld); installing $wheel"
        "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: \
            -r requirements-test.txt "$wheel"
        if [ "$version" = "$DEV_PYTHON" ]; then selection=$MODULE_TESTS; else selection=$ALL_INSTALLED_TESTS; fi
        run_suite "Python $version wheel" "$venv" "$selection" "$@"
    )
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
