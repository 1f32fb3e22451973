# Installing a release file as a merchant would and running the pytest suite against what was
# installed, not against the build tree. Sourced after env.sh, here or inside a Debian root
# (scripts/install_debian.sh); INSTALL_WORK names an empty scratch directory.

# What an installed module runs (the marks are described in pyproject.toml): the module's tests,
# or those and the companion packages' with the Django app on one Django and one database. The
# tests of the source tree and the scripts, the browser's, and the Django app's other versions
# and databases are the pytest stage's alone.
MODULE_TESTS="not source and not companion"
ALL_INSTALLED_TESTS="not source and not variant and not browser"

# A PATH with every program of the system's bin directories but the compilers, linkers and build
# tools, at $INSTALL_WORK/no-compiler-bin; prints it.
no_compiler_path() {
    local bin="$INSTALL_WORK/no-compiler-bin" directory program name
    mkdir -p "$bin"
    for directory in /usr/local/bin /usr/bin /bin /usr/sbin /sbin; do
        for program in "$directory"/*; do
            name=$(basename "$program")
            case "$name" in
                cc|c++|cpp|c89|c99|gcc*|g++*|*-gcc*|*-g++*|*-cpp*|clang*|*-clang*|ld|ld.*|*-ld|*-ld.*|as|*-as|\
                cmake|ctest|cpack|ninja|make|zig|tcc|rustc|cargo) continue ;;
            esac
            if [ -x "$program" ] && [ ! -e "$bin/$name" ]; then ln -s "$program" "$bin/$name"; fi
        done
    done
    echo "$bin"
}

# wheel_for VERSION ARCH: the file of dist/ that pip would take for CPython VERSION on ARCH.
wheel_for() {
    local version=$1 arch=$2 tag
    case "$version" in 3.11) tag="cp311-cp311" ;; *) tag="cp312-abi3" ;; esac
    ls "$ROOT"/dist/*-"$tag"-manylinux*_"$arch".whl
}

# run_suite NAME VENV SELECTION [pytest arguments]: the pytest suite's tests that SELECTION (-m)
# takes (or those of the paths under tests/ given), from outside the source tree, so that only the
# installed module can be imported.
run_suite() {
    local name=$1 venv=$2 selection=$3 loaded started=$SECONDS paths=("$ROOT/tests") argument
    shift 3
    for argument in "$@"; do
        case "$argument" in "$ROOT"/tests*) paths=() ;; esac
    done
    log "$name: $("$venv/bin/python" -m pip show -f vemrat-pay | sed -n '/^Files:/,$p' | tr -s ' \n' ' ')"
    loaded=$(cd "$INSTALL_WORK" && "$venv/bin/python" -c 'import vemrat_pay; print(vemrat_pay.__file__)')
    case "$loaded" in
        "$venv/"*) log "$name: import vemrat_pay loads $loaded" ;;
        *) echo "error: import vemrat_pay loads $loaded, not the installed module" >&2; return 1 ;;
    esac
    log "$name: pytest -m \"$selection\""
    (cd "$INSTALL_WORK" && "$venv/bin/python" -m pytest -q -p no:cacheprovider --rootdir="$ROOT" -m "$selection" \
        "${paths[@]}" "$@")
    log "$name: $((SECONDS - started)) s"
}

# install_wheel_and_test NAME PYTHON WHEEL SELECTION [pytest arguments]: a fresh venv of the
# interpreter PYTHON gets WHEEL (test_wheel_in_venv).
install_wheel_and_test() {
    local name=$1 python=$2 wheel=$3 venv="$INSTALL_WORK/venv-${1//[^A-Za-z0-9.]/-}"
    shift 3
    "$python" -m venv "$venv"
    test_wheel_in_venv "$name" "$venv" "$wheel" "$@"
}

# test_wheel_in_venv NAME VENV WHEEL SELECTION [pytest arguments]: the venv gets WHEEL and the test
# requirements with no compiler reachable; then the suite's tests that SELECTION takes run
# (run_suite).
test_wheel_in_venv() {
    local name=$1 venv=$2 wheel=$3 bin
    shift 3
    bin=$(no_compiler_path)
    (
        export PATH="$venv/bin:$bin" CC=false CXX=false
        for tool in cc c++ gcc g++ clang clang++ cmake ninja ld; do
            if type -P "$tool" >/dev/null; then echo "error: $tool is reachable: $(type -P "$tool")" >&2; exit 1; fi
        done
        log "$name ($("$venv/bin/python" -c 'import sys, platform; print(sys.version.split()[0], platform.machine())')):" \
            "no compiler reachable (cc, c++, gcc, g++, clang, cmake, ninja, ld); installing $(basename "$wheel")"
        "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: \
            -r "$ROOT/requirements-test.txt" "$wheel"
        run_suite "$name" "$venv" "$@"
    )
}
