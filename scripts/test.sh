#!/usr/bin/env bash
# The whole test suite on a fresh machine: Python 3.13, system packages, venv, builds, then
# pytest (which also runs the native unit tests). `--quick` runs only the pytest suite.
# Extra arguments go to pytest.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi

prepare_module "${TEST_SYSTEM_PACKAGES[@]}"
ensure_django_lts
build_native_tests
# The later stages run the browser tests too.
if [ "$quick" = 0 ] || browser_tests_selected "$@"; then ensure_system_packages "${BROWSER_PACKAGES[@]}"; fi

log "pytest"
"$PY" -m pytest -q "$@"
[ "$quick" = 1 ] && exit 0

# The long stages: each is a script of its own, also runnable by hand.
for stage in fuzz sanitize soak install_matrix; do
    if [ -f "$ROOT/scripts/$stage.sh" ]; then
        log "$stage"
        bash "$ROOT/scripts/$stage.sh"
    fi
done
