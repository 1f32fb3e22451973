#!/usr/bin/env bash
# Installs the release files as a merchant would and runs the whole pytest suite against what was
# installed, not against the build tree: for each supported Python, a fresh venv gets its wheel
# from dist/ with no compiler reachable; then a fresh Python 3.13 venv builds and installs the
# sdist with the compiler present. Builds dist/ first (scripts/dist.sh). Extra arguments go to
# pytest.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

ensure_system_packages "${TEST_SYSTEM_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}"
bash scripts/dist.sh
# The native unit tests are a program of their own; built now, while the compiler may be used.
ensure_venv
ensure_django_lts
build_native_tests

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

# run_suite NAME VENV: the pytest suite from outside the source tree, so that only the installed
# module can be imported.
run_suite() {
    local name=$1 venv=$2 loaded
    shift 2
    log "$name: $("$venv/bin/python" -m pip show -f vemrat-pay | sed -n '/^Files:/,$p' | tr -s ' \n' ' ')"
    loaded=$(cd "$work" && "$venv/bin/python" -c 'import vemrat_pay; print(vemrat_pay.__file__)')
    case "$loaded" in
        "$venv/"*) log "$name: import vemrat_pay loads $loaded" ;;
        *) echo "error: import vemrat_pay loads $loaded, not the installed module" >&2; return 1 ;;
    esac
    log "$name: pytest"
    (cd "$work" && "$venv/bin/python" -m pytest -q -p no:cacheprovider --rootdir="$ROOT" "$ROOT/tests" "$@")
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
        run_suite "Python $version wheel" "$venv" "$@"
    )
done

log "Python $DEV_PYTHON: building and installing the sdist with the compiler"
venv="$work/sdist"
"$(find_python "$DEV_PYTHON")" -m venv "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-test.txt dist/*.tar.gz
run_suite "Python $DEV_PYTHON sdist" "$venv" "$@"
