# Shared setup for the project's commands: a Python 3.13, the system packages, the venv, the builds.
# Sourced by the scripts in scripts/; every step is idempotent and quick when nothing changed.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
VENV="$ROOT/.venv"
PY="$VENV/bin/python"

log() { printf '==> %s\n' "$*" >&2; }

is_python313() { [ -n "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; }

# Prints the path of a Python 3.13 interpreter, installing Debian's if there is none.
find_python313() {
    local candidate
    for candidate in "${PYTHON313:-}" "$(command -v python3.13 2>/dev/null)" /usr/bin/python3.13 /usr/local/bin/python3.13 \
        "$(pyenv root 2>/dev/null)"/versions/3.13*/bin/python3.13 "$HOME"/.pyenv/versions/3.13*/bin/python3.13 \
        /root/.pyenv/versions/3.13*/bin/python3.13; do
        if is_python313 "$candidate"; then printf '%s\n' "$candidate"; return 0; fi
    done
    log "no Python 3.13 found; installing Debian's"
    ensure_system_packages python3.13 python3.13-venv python3.13-dev >&2
    is_python313 /usr/bin/python3.13 && { echo /usr/bin/python3.13; return 0; }
    echo "error: could not find or install Python 3.13" >&2
    return 1
}

APT_UPDATED=0
# Installs the Debian packages named that are not installed yet.
ensure_system_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing system packages: ${missing[*]}"
    if [ "$APT_UPDATED" = 0 ]; then apt-get update -qq; APT_UPDATED=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The venv and the Python packages of requirements-dev.txt (reinstalled when that file changes).
ensure_venv() {
    local python stamp="$VENV/.requirements.sha256" wanted
    if ! is_python313 "$PY"; then
        python=$(find_python313)
        log "creating the venv with $python"
        rm -rf "$VENV"
        "$python" -m venv "$VENV"
    fi
    wanted=$(sha256sum "$ROOT/requirements-dev.txt" | cut -d' ' -f1)
    if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
        log "installing Python packages"
        "$PY" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
        "$PY" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements-dev.txt"
        echo "$wanted" > "$stamp"
    fi
}

# Django 5.2 LTS in a directory of its own beside the venv's newest Django; the Django app's
# tests run under both (tests/test_django_app.py reads VEMRAT_PAY_DJANGO_LTS).
ensure_django_lts() {
    local target="$ROOT/build/django-lts" wanted="django>=5.2,<5.3"
    if [ "$(cat "$target/.wanted" 2>/dev/null)" != "$wanted" ]; then
        log "installing Django 5.2 LTS into build/django-lts"
        rm -rf "$target"
        "$PY" -m pip install -q --disable-pip-version-check --target "$target" "$wanted"
        echo "$wanted" > "$target/.wanted"
    fi
    export VEMRAT_PAY_DJANGO_LTS="$target"
}

# Builds and installs the module into the venv; the persistent build directory keeps it incremental.
build_module() {
    local werror=OFF
    [ "${CI:-}" = true ] && werror=ON
    log "building the module"
    "$PY" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
        -Ccmake.define.VEMRAT_PAY_WERROR=$werror "$ROOT"
}

# What every command needs before it can import the module: the compiler and OpenSSL's
# headers (plus any further system packages named), the venv, and the built module.
prepare_module() {
    ensure_system_packages libssl-dev build-essential "$@"
    ensure_venv
    build_module
}

# Configures (once) and builds a CMake tree under build/: build_cmake NAME [cmake options...]
build_cmake() {
    local name=$1; shift
    local dir="$ROOT/build/$name"
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    fi
    cmake --build "$dir" >&2
}

cmake() { "$VENV/bin/cmake" "$@"; }
