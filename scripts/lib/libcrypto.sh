# The libcrypto the wheels link statically: OpenSSL 3.5 LTS from Debian trixie's source package,
# its upstream tarball checked against the checksum below, compiled by the wheels' own toolchain
# with hardened flags for each target. Sourced after env.sh.
#
# Configured with only what the module needs (SHA-256 and what the default provider builds it
# on), the providers built in (no-module) and no loading of shared objects (no-dso), and without
# reading a configuration file on its own (no-autoload-config): neither OPENSSL_CONF nor the
# system's openssl.cnf can change or add to what the module computes. Its built-in directories
# name a place that does not exist, the same on every build machine.
#
# When trixie moves on and apt no longer has this version, set the two values below to the new
# one and its tarball's SHA-256 (`apt-cache showsrc openssl` with the sources of build/apt).

LIBCRYPTO_DEBIAN_VERSION=3.5.7-1~deb13u2
LIBCRYPTO_ORIG_SHA256=a8c0d28a529ca480f9f36cf5792e2cd21984552a3c8e4aa11a24aa31aeac98e8
LIBCRYPTO_OPTIONS=(no-shared no-module no-dso no-autoload-config no-pinshared
    no-apps no-docs no-tests no-ui-console no-engine no-legacy no-deprecated
    no-ssl no-tls no-dtls no-quic no-comp no-ct no-ocsp no-cms no-ts no-srp no-http no-sock
    no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-des no-dh no-dsa no-ec no-idea no-md4
    no-mdc2 no-ocb no-poly1305 no-rc2 no-rc4 no-rmd160 no-scrypt no-seed no-siphash no-siv no-sm2
    no-sm3 no-sm4 no-whirlpool no-argon2 no-ml-dsa no-ml-kem no-slh-dsa no-cmp no-rfc3779
    no-async no-srtp no-psk no-gost)

# libcrypto_source: unpacks the checked source once; prints its directory.
libcrypto_source() {
    local apt="$ROOT/build/apt" version=${LIBCRYPTO_DEBIAN_VERSION%-*} tarball
    local source="$ROOT/build/libcrypto/openssl-$version"
    if [ -f "$source/.checked" ]; then echo "$source"; return 0; fi
    mkdir -p "$apt/lists/partial" "$apt/cache" "$apt/download" "$ROOT/build/libcrypto"
    cat > "$apt/sources.list" <<SOURCES
deb-src [signed-by=$DEBIAN_KEYRING] $DEBIAN_MIRROR trixie main
SOURCES
    local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
    tarball="$apt/download/openssl_$version.orig.tar.gz"
    if [ ! -f "$tarball" ]; then
        log "downloading Debian's source package openssl $LIBCRYPTO_DEBIAN_VERSION"
        apt-get "${options[@]}" update -qq >&2
        (cd "$apt/download" && apt-get "${options[@]}" source -qq --download-only "openssl=$LIBCRYPTO_DEBIAN_VERSION" >&2)
    fi
    if [ "$(sha256sum "$tarball" | cut -d' ' -f1)" != "$LIBCRYPTO_ORIG_SHA256" ]; then
        echo "error: $tarball does not have the SHA-256 $LIBCRYPTO_ORIG_SHA256" >&2
        return 1
    fi
    rm -rf "$source"
    tar -xzf "$tarball" -C "$ROOT/build/libcrypto"
    touch "$source/.checked"
    echo "$source"
}

# build_libcrypto ARCH CC: libcrypto.a and its headers for ARCH (x86_64, aarch64), compiled by
# the compiler command CC (a script); prints the install directory (include/, lib/libcrypto.a).
build_libcrypto() {
    local arch=$1 cc=$2 source flags configure_target
    source=$(libcrypto_source) || return 1
    local dir="$ROOT/build/libcrypto/$arch" wanted
    case "$arch" in
        x86_64) configure_target=linux-x86_64; flags="-fcf-protection=full" ;;
        aarch64) configure_target=linux-aarch64; flags="-mbranch-protection=standard" ;;
    esac
    flags="-O2 -fstack-protector-strong -D_FORTIFY_SOURCE=2 $flags -ffile-prefix-map=$source/="
    wanted=$(printf '%s\n' "$LIBCRYPTO_ORIG_SHA256" "$configure_target" "$flags" "$(cat "$cc")" "${LIBCRYPTO_OPTIONS[@]}" | sha256sum)
    if [ "$(cat "$dir/.wanted" 2>/dev/null)" != "$wanted" ]; then
        log "building libcrypto $LIBCRYPTO_DEBIAN_VERSION for $arch"
        rm -rf "$dir"
        mkdir -p "$dir/build"
        (
            cd "$dir/build"
            export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0}
            "$source/Configure" "$configure_target" "${LIBCRYPTO_OPTIONS[@]}" --prefix=/nonexistent/vemrat-pay-libcrypto \
                --openssldir=/nonexistent/vemrat-pay-libcrypto \
                CC="$cc" AR="$cc-ar" RANLIB="$cc-ranlib" CFLAGS="$flags" >"$dir/configure.log" 2>&1 ||
                { cat "$dir/configure.log" >&2; exit 1; }
            make -j"$(nproc)" build_generated >"$dir/make.log" 2>&1 &&
                make -j"$(nproc)" libcrypto.a >>"$dir/make.log" 2>&1 ||
                { tail -40 "$dir/make.log" >&2; exit 1; }
            mkdir -p "$dir/lib" "$dir/include/openssl"
            cp libcrypto.a "$dir/lib/"
            cp "$source"/include/openssl/*.h include/openssl/*.h "$dir/include/openssl/"
        ) || return 1
        echo "$wanted" > "$dir/.wanted"
    fi
    echo "$dir"
}
