#!/usr/bin/env bash
# Builds every fuzz/*_fuzz.cpp with clang-19 (libFuzzer, ASan, UBSan) into build/fuzz and runs
# each for FUZZ_SECONDS (default 30) on a temporary copy of its seed corpus, so that the inputs
# the fuzzer finds are not written into fuzz/corpus. Fails on the first crash, sanitizer report
# or failed property check; the failing input is kept in build/fuzz/artifacts/.
# clang-19 is the first of Debian's clangs that compiles libstdc++'s std::expected.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$ROOT"

seconds=${FUZZ_SECONDS:-30}

ensure_system_packages libssl-dev clang-19 libclang-rt-19-dev
ensure_venv
build="$ROOT/build/fuzz"
# A target that does not compile fails the stage; those that were built still run.
status=0
build_cmake fuzz -DCMAKE_CXX_COMPILER=clang++-19 -DVEMRAT_PAY_MODULE=OFF -DVEMRAT_PAY_FUZZ=ON || status=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

for source in fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    name=${target%_fuzz}
    corpus="$work/$name"
    mkdir -p "$corpus"
    if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$corpus/"; fi
    if [ ! -x "$build/$target" ]; then
        echo "error: $target was not built" >&2
        status=1
        continue
    fi
    log "fuzz $target for ${seconds}s"
    if ! "$build/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$corpus" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log" >&2
        echo "error: $target failed; input kept under $artifacts/" >&2
        status=1
        continue
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/$target.log" |
        sed "s/^/    $target /" >&2 || true
done
exit "$status"
