#!/usr/bin/env bash
# The aarch64 wheels where they run: Debian's arm64 CPython 3.11 (bookworm) and 3.14 (sid),
# unpacked into sysroots under build/debian and run by user-mode emulation (qemu-user-static;
# no binfmt handler is needed, see emulated_venv in scripts/lib/debian.sh). Each gets its wheel
# from dist/ in a fresh venv with no compiler reachable, and pytest runs against it
# (scripts/lib/install.sh). Builds dist/ first (scripts/dist.sh), unless the first argument is
# --built: then the files in dist/ are tested as they are.
#
# Emulation is slow, so by default the tests below run: every operation, the module's surface,
# the key file, OpenSSL's configuration, and the sandbox's payment and callback flow with the
# demo. Extra arguments replace them (`bash scripts/install_aarch64.sh tests` runs the whole
# suite). The browser, PostgreSQL and the other programs the tests start are this machine's own.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
source "$ROOT/scripts/lib/debian.sh"
source "$ROOT/scripts/lib/install.sh"
cd "$ROOT"
built=0
if [ "${1:-}" = --built ]; then built=1; shift; fi

SUBSET=(tests/test_module.py tests/test_create_payment.py tests/test_query_order.py tests/test_verify_callback.py
    tests/test_client_key_file.py tests/test_openssl_config.py tests/sandbox/test_payment.py
    tests/sandbox/test_callbacks.py tests/test_demo.py)
[ $# -gt 0 ] || set -- "${SUBSET[@]}"
arguments=()
for argument in "$@"; do
    case "$argument" in tests|tests/*) arguments+=("$ROOT/$argument") ;; *) arguments+=("$argument") ;; esac
done

ensure_system_packages qemu-user-static "${TEST_SYSTEM_PACKAGES[@]}"
[ "$built" = 1 ] || bash scripts/dist.sh
ensure_venv
ensure_django_lts

# The wheels pip may take for these sysroots (glibc 2.36 and later), each tag named, as pip does
# not widen a --platform to the older tags it covers.
platforms=(--platform manylinux2014_aarch64)
for minor in $(seq 17 36); do platforms+=(--platform "manylinux_2_${minor}_aarch64"); done

INSTALL_WORK=$(mktemp -d)
trap 'rm -rf "$INSTALL_WORK"' EXIT

for target in bookworm:3.11 sid:3.14; do
    suite=${target%:*} version=${target#*:}
    sysroot="$ROOT/build/debian/$suite-arm64"
    # Beside the interpreter, what a test requirement's wheel links (greenlet: the C++ runtime) and
    # what the suite preloads into the interpreter (libfaketime, the clock tests').
    debian_sysroot "$sysroot" "$suite" arm64 "python$version" "python$version-venv" ca-certificates \
        libstdc++6 libfaketime
    venv="$INSTALL_WORK/venv-aarch64-$version"
    emulated_venv "$sysroot" "/usr/bin/python$version" "$venv"
    # pip and the test requirements (aarch64 wheels of PyPI) are put in by this machine's pip,
    # which takes seconds where pip under emulation takes many minutes; the venv's own pip then
    # installs the wheel under test.
    log "Python $version aarch64: pip and the test requirements"
    "$PY" -m pip install -q --disable-pip-version-check --only-binary=:all: "${platforms[@]}" \
        --python-version "$version" --implementation cp \
        --target "$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')" \
        pip -r requirements-test.txt
    test_wheel_in_venv "Python $version aarch64 wheel (emulated)" "$venv" "$(wheel_for "$version" aarch64)" \
        "$ALL_INSTALLED_TESTS" "${arguments[@]}"
done
