#!/usr/bin/env bash
# The module's tests against the module built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The sanitized module lives in build/sanitize (the venv keeps the
# normal build) and is put ahead of site-packages; the sanitizer runtime is preloaded into the
# interpreter, which allocates through malloc so that ASan sees every object. The tests of the
# source tree and of the pure-Python companion packages run no code of the module and are left
# out (the marks `source` and `companion`, described in pyproject.toml). Extra arguments go to
# pytest.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

# The tests' child processes import the module from the venv, so it is built there too.
prepare_module faketime
build_cmake sanitize -DVEMRAT_PAY_SANITIZE=ON -DVEMRAT_PAY_WERROR=ON -DPython_EXECUTABLE="$PY"

asan_runtime=$(gcc -print-file-name=libasan.so)
ubsan_runtime=$(gcc -print-file-name=libubsan.so)
[ -f "$asan_runtime" ] || { echo "error: no libasan.so from gcc" >&2; exit 1; }

export LD_PRELOAD="$asan_runtime:$ubsan_runtime"
export PYTHONMALLOC=malloc
export PYTHONPATH="$ROOT/build/sanitize${PYTHONPATH:+:$PYTHONPATH}"
# Leaks are detected (VEMRAT_PAY_DETECT_LEAKS=0 turns that off), with suppressions for what the
# interpreter itself keeps until exit: scripts/lsan.supp.
# The runtime does not follow __tls_get_addr: GCC 12's takes a dynamic TLS block (a thread_local
# of a dlopen'ed module) that starts 16 bytes past a page boundary for one of glibc 2.19's, reads
# its bounds from the allocator's header in front of it, and the leak check at exit crashes
# scanning them ("Tracer caught signal 11"). This glibc allocates those blocks with malloc and
# points to them from each thread's DTV, so the leak check reaches them without that.
export ASAN_OPTIONS="detect_leaks=${VEMRAT_PAY_DETECT_LEAKS:-1}:intercept_tls_get_addr=0:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

loaded=$("$PY" -c 'import vemrat_pay; print(vemrat_pay.__file__)')
case "$loaded" in
    "$ROOT/build/sanitize/"*) log "sanitized module: $loaded" ;;
    *) echo "error: import vemrat_pay loaded $loaded, not the sanitized build" >&2; exit 1 ;;
esac

log "pytest under ASan and UBSan"
VEMRAT_PAY_SANITIZED=1 "$PY" -m pytest -q -p no:cacheprovider -m "not source and not companion" tests "$@"
