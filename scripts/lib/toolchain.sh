# The release build's compilers: zig's clang and libc++, pinned to a target architecture and the
# symbol versions of glibc $GLIBC. Sourced after env.sh.

# The oldest glibc whose symbols the wheels may use. getrandom (ours and libcrypto's) needs 2.25;
# auditwheel's nearest policy above that is manylinux_2_26.
GLIBC=2.26
# The architectures the wheels are built for (zig's and the wheels' name for each);
# VEMRAT_PAY_WHEEL_ARCHITECTURES=x86_64 (say) builds fewer.
read -ra WHEEL_ARCHITECTURES <<< "${VEMRAT_PAY_WHEEL_ARCHITECTURES:-x86_64 aarch64}"

# zig_toolchain TOOLS DIR ARCH: cc, c++, cc-ar and cc-ranlib for ARCH in DIR, each one executable
# as a build system wants it, from the zig of the venv at TOOLS; its caches stay under DIR's parent.
zig_toolchain() {
    local tools=$1 dir=$2 arch=$3 zig
    zig=$("$tools/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
    mkdir -p "$dir"
    printf '#!/bin/sh\nexec "%s" cc -target %s-linux-gnu.%s "$@"\n' "$zig" "$arch" "$GLIBC" > "$dir/cc"
    printf '#!/bin/sh\nexec "%s" c++ -target %s-linux-gnu.%s "$@"\n' "$zig" "$arch" "$GLIBC" > "$dir/c++"
    printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" > "$dir/cc-ar"
    printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" > "$dir/cc-ranlib"
    chmod +x "$dir/cc" "$dir/c++" "$dir/cc-ar" "$dir/cc-ranlib"
    export ZIG_GLOBAL_CACHE_DIR="$(dirname "$dir")/zig-cache" ZIG_LOCAL_CACHE_DIR="$(dirname "$dir")/zig-cache"
}
