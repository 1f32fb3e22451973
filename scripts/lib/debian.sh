# A Debian root for the Pythons this machine does not have itself (scripts/install_debian.sh):
# debootstrapped, and entered by chroot. Sourced after env.sh.

DEBIAN_MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
DEBIAN_KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

# debian_root DIR SUITE PACKAGES...: a minimal Debian SUITE for this machine's architecture at
# DIR with the packages named and what they depend on; made once, topped up when the list grows.
debian_root() {
    local dir=$1 suite=$2; shift 2
    local wanted="$suite $*"
    [ "$(cat "$dir.wanted" 2>/dev/null)" = "$wanted" ] && return 0
    ensure_system_packages debootstrap debian-archive-keyring
    if [ ! -x "$dir/usr/bin/apt-get" ] || [ "$(cat "$dir.suite" 2>/dev/null)" != "$suite" ]; then
        log "debootstrapping Debian $suite into $dir"
        rm -rf "$dir"; mkdir -p "$(dirname "$dir")"
        debootstrap --variant=minbase --keyring="$DEBIAN_KEYRING" "$suite" "$dir" "$DEBIAN_MIRROR" >"$dir.log" 2>&1 ||
            { tail -20 "$dir.log" >&2; return 1; }
        echo "$suite" > "$dir.suite"
    fi
    # apt inside the root resolves what debootstrap's --include does not (alternatives).
    log "installing into $dir: $*"
    # The mirror may serve a suite whose Release file has passed its Valid-Until date.
    in_root "$dir" apt-get -o Acquire::Check-Valid-Until=false update -qq >>"$dir.log" 2>&1
    DEBIAN_FRONTEND=noninteractive in_root "$dir" apt-get install -y -qq --no-install-recommends "$@" >>"$dir.log" 2>&1 ||
        { tail -20 "$dir.log" >&2; return 1; }
    echo "$wanted" > "$dir.wanted"
}

# in_root DIR COMMAND...: COMMAND inside the root at DIR, with /proc, /dev, /tmp of its own, the
# source tree at the same path as here, and the certificates this machine trusts (its downloads
# may pass a proxy with a certificate of its own). The mounts live in a namespace of their own,
# so they vanish with the command.
in_root() {
    local dir=$1; shift
    cp /etc/resolv.conf "$dir/etc/resolv.conf"
    mkdir -p "$dir$ROOT"
    unshare --mount --propagation private -- /bin/sh -ec '
        dir=$1; root=$2; shift 2
        mount -t proc proc "$dir/proc"
        mount --rbind /dev "$dir/dev"
        mount -t tmpfs tmpfs "$dir/dev/shm"
        mount -t tmpfs tmpfs "$dir/tmp"
        mount --bind "$root" "$dir$root"
        mount --bind /etc/ssl/certs/ca-certificates.crt "$dir/etc/ssl/certs/ca-certificates.crt"
        exec chroot "$dir" "$@"' in_root "$dir" "$ROOT" "$@"
}

# debian_sysroot DIR SUITE ARCH PACKAGES...: Debian SUITE's packages for ARCH and what they
# depend on, unpacked (not installed: no maintainer script runs) into DIR, for a program of
# ARCH run by user-mode emulation over it (emulated_venv). Made once per list of packages.
debian_sysroot() {
    local dir=$1 suite=$2 arch=$3; shift 3
    local wanted="$suite $arch $*" apt="$dir.apt" deb
    [ "$(cat "$dir.wanted" 2>/dev/null)" = "$wanted" ] && return 0
    log "unpacking Debian $suite's $arch packages into $dir: $*"
    rm -rf "$dir" "$apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$dir/usr/bin" "$dir/usr/lib" "$dir/usr/sbin"
    # The merged /usr of Debian 12 and later, which the packages of trixie and sid only assume.
    ln -s usr/bin "$dir/bin"; ln -s usr/lib "$dir/lib"; ln -s usr/sbin "$dir/sbin"
    touch "$apt/status"
    echo "deb [arch=$arch signed-by=$DEBIAN_KEYRING] $DEBIAN_MIRROR $suite main" > "$apt/sources.list"
    local options=(-o APT::Architecture="$arch" -o APT::Architectures="$arch" -o Dir::State::status="$apt/status"
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Dir::Etc::SourceList="$apt/sources.list"
        -o Dir::Etc::SourceParts=/dev/null -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null
        -o Debug::NoLocking=1 -o APT::Sandbox::User=root -o Acquire::Check-Valid-Until=false)
    apt-get "${options[@]}" update -qq >&2 &&
        apt-get "${options[@]}" install -y -qq --download-only --no-install-recommends "$@" >&2 || return 1
    for deb in "$apt"/cache/archives/*.deb; do
        dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$dir" || return 1
    done
    rm -rf "$apt"
    echo "$wanted" > "$dir.wanted"
}

# emulated_venv SYSROOT PYTHON VENV: a venv at VENV, without pip, of the aarch64 interpreter PYTHON
# (a path inside SYSROOT, such as /usr/bin/python3.11) run by qemu-user over SYSROOT. Its bin/python is a script
# that starts the emulator with the script's own path as the interpreter's argv[0], so that
# sys.executable is that script and the children the suite starts run emulated too, with no
# binfmt handler registered on this machine.
emulated_venv() {
    local sysroot=$1 python=$2 venv=$3 name qemu
    name=$(basename "$python")
    ensure_system_packages qemu-user-static
    # Named by its path: the suite runs some children with a PATH of their own. The processor
    # has pointer authentication (Debian's interpreters and the module sign return addresses)
    # with the emulator's quick algorithm: the architected one made Python 3.14 run 30 times slower.
    qemu=("$(command -v qemu-aarch64-static)" -cpu max,pauth-impdef=on -L "$sysroot")
    "${qemu[@]}" "$sysroot$python" -m venv --without-pip "$venv"
    rm -f "$venv/bin/$name"
    printf '#!/bin/sh\nexec %s -0 "$0" "%s" "$@"\n' "${qemu[*]@Q}" "$sysroot$python" > "$venv/bin/$name"
    chmod +x "$venv/bin/$name"
}
