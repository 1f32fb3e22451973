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
