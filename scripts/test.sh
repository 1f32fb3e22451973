#!/usr/bin/env bash
# The whole test suite on a fresh machine: Python 3.13, system packages, venv, builds, then
# pytest (which also runs the native unit tests). `--quick` runs only the pytest suite.
# Extra arguments go to pytest. Each stage's time is printed as it ends, and all of them at the
# end, also when a stage fails.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi

stage_times=()
stage=
stage_started=0
# begin_stage NAME: ends the stage before (recording its time) and starts NAME.
begin_stage() {
    end_stage
    stage=$1
    stage_started=$SECONDS
    log "$stage"
}
end_stage() {
    [ -n "$stage" ] || return 0
    stage_times+=("$(printf '%-15s %5d s' "$stage" $((SECONDS - stage_started)))")
    log "$stage: $((SECONDS - stage_started)) s"
    stage=
}
print_stage_times() {
    local status=$? line
    if [ -n "$stage" ]; then
        stage_times+=("$(printf '%-15s %5d s  FAILED (exit %d)' "$stage" $((SECONDS - stage_started)) "$status")")
    fi
    log "stage times"
    for line in "${stage_times[@]}"; do printf '    %s\n' "$line" >&2; done
    printf '    %-15s %5d s\n' total "$SECONDS" >&2
}
[ "$quick" = 1 ] || trap print_stage_times EXIT

begin_stage setup
prepare_module "${TEST_SYSTEM_PACKAGES[@]}"
ensure_django_lts
build_native_tests
# The pytest stage runs the browser tests.
if [ "$quick" = 0 ] || browser_tests_selected "$@"; then ensure_system_packages "${BROWSER_PACKAGES[@]}"; fi

begin_stage pytest
"$PY" -m pytest -q "$@"
[ "$quick" = 1 ] && exit 0

# The long stages: each is a script of its own, also runnable by hand.
for name in fuzz sanitize soak install_matrix; do
    if [ -f "$ROOT/scripts/$name.sh" ]; then
        begin_stage "$name"
        bash "$ROOT/scripts/$name.sh"
    fi
done
end_stage
