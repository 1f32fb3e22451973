#!/usr/bin/env bash
# The wheels on the CPython versions after this machine's own: Debian sid's 3.14 and 3.15, in a
# root debootstrapped under build/debian (scripts/lib/debian.sh) with what the suite needs. Each
# gets the stable-ABI wheel from dist/ in a fresh venv with no compiler reachable, and the tests
# the install matrix runs on a wheel run against it (scripts/lib/install.sh). Builds dist/ first (scripts/dist.sh),
# unless the first argument is --built: then the files in dist/ are tested as they are.
# Extra arguments go to pytest. It takes longer than CI can give it: run it by hand before a
# release (README, "Install").
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"
source "$ROOT/scripts/lib/debian.sh"
cd "$ROOT"
built=0
if [ "${1:-}" = --built ]; then built=1; shift; fi

SID_PYTHONS=(3.14 3.15)
root="$ROOT/build/debian/sid-amd64"

[ "$built" = 1 ] || bash scripts/dist.sh
ensure_venv
ensure_django_lts
build_native_tests
packages=(ca-certificates bash "${TEST_SYSTEM_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}")
for version in "${SID_PYTHONS[@]}"; do packages+=("python$version" "python$version-venv"); done
debian_root "$root" sid "${packages[@]}"

for version in "${SID_PYTHONS[@]}"; do
    in_root "$root" env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 \
        VEMRAT_PAY_DJANGO_LTS="$VEMRAT_PAY_DJANGO_LTS" /bin/bash -c '
            set -euo pipefail
            source "$1/scripts/lib/env.sh"
            source "$1/scripts/lib/install.sh"
            INSTALL_WORK=$(mktemp -d)
            wheel=$(wheel_for "$2" x86_64)
            shift 1
            # What the install matrix runs on the wheels of the Pythons other than the development one.
            install_wheel_and_test "Python $1 wheel (Debian sid)" "/usr/bin/python$1" "$wheel" \
                "$ALL_INSTALLED_TESTS" "${@:2}"
        ' install_debian "$ROOT" "$version" "$@"
done
