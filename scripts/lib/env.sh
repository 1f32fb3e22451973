# Shared setup for the project's commands: the Pythons, the system packages, the venvs, the builds.
# Sourced by the scripts in scripts/; every step is idempotent and quick when nothing changed.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
VENV="$ROOT/.venv"
PY="$VENV/bin/python"
CMAKE="$VENV/bin/cmake"  # CMake from requirements-dev.txt, new enough whatever the system has

# The CPython versions the module is tested with here (pyenv's, or Debian's); the development venv
# uses the last. Later versions run in a Debian root (scripts/install_debian.sh).
PYTHON_VERSIONS=(3.11 3.12 3.13)
DEV_PYTHON=${PYTHON_VERSIONS[-1]}
# The Pythons the wheels are built with: 3.11's wheel is for 3.11 alone, 3.12's is built for the
# stable ABI (pyproject.toml's wheel.py-api) and serves 3.12 and every later version.
WHEEL_PYTHONS=(3.11 3.12)
# The system packages the pytest suite uses besides the module; the browser only where a
# selected test needs it (browser_tests_selected).
TEST_SYSTEM_PACKAGES=(faketime locales libc-l10n openssl postgresql)
BROWSER_PACKAGES=(chromium chromium-driver)

log() { printf '==> %s\n' "$*" >&2; }

# is_python VERSION PATH: PATH runs a CPython of that minor version.
is_python() {
    [ -n "$2" ] && "$2" -c "import sys; sys.exit(sys.version_info[:2] != tuple(map(int, '$1'.split('.'))))" 2>/dev/null
}

# Prints the path of a Python VERSION (3.11, ...) interpreter, installing Debian's if there is
# none. PYTHON311 (and so on) names one explicitly.
find_python() {
    local version=$1 candidate override="PYTHON${1//./}"
    for candidate in "${!override:-}" "$(command -v "python$version" 2>/dev/null)" "/usr/bin/python$version" \
        "/usr/local/bin/python$version" "$(pyenv root 2>/dev/null)"/versions/"$version".*/bin/"python$version" \
        "$HOME"/.pyenv/versions/"$version".*/bin/"python$version" /root/.pyenv/versions/"$version".*/bin/"python$version"; do
        if is_python "$version" "$candidate"; then printf '%s\n' "$candidate"; return 0; fi
    done
    log "no Python $version found; installing Debian's"
    ensure_system_packages "python$version" "python$version-venv" "python$version-dev" >&2 || true
    is_python "$version" "/usr/bin/python$version" && { echo "/usr/bin/python$version"; return 0; }
    echo "error: could not find or install Python $version (pyenv, or the python$version package)" >&2
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

# venv_with_requirements DIR VERSION REQUIREMENTS: a venv at DIR for Python VERSION with the
# packages of the requirements file, reinstalled when it or a file it includes (-r) changes.
venv_with_requirements() {
    local dir=$1 version=$2 requirements=$3 python stamp="$1/.requirements.sha256" wanted
    if ! is_python "$version" "$dir/bin/python"; then
        python=$(find_python "$version")
        log "creating $dir with $python"
        rm -rf "$dir"
        "$python" -m venv "$dir"
    fi
    wanted=$(cd "$(dirname "$requirements")" && cat "$requirements" $(sed -n 's/^-r //p' "$requirements") |
        sha256sum | cut -d' ' -f1)
    if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
        log "installing the Python packages of $(basename "$requirements") into $dir"
        "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
        "$dir/bin/python" -m pip install -q --disable-pip-version-check -r "$requirements"
        echo "$wanted" > "$stamp"
    fi
}

# The development venv and the Python packages of requirements-dev.txt.
ensure_venv() { venv_with_requirements "$VENV" "$DEV_PYTHON" "$ROOT/requirements-dev.txt"; }

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

# Configures (once) and builds a CMake tree under build/: build_cmake NAME [cmake options...]; the
# options (the compiler among them, -DCMAKE_CXX_COMPILER=...) apply when the tree is configured.
build_cmake() {
    local name=$1; shift
    local dir="$ROOT/build/$name"
    if [ ! -f "$dir/build.ninja" ]; then
        "$CMAKE" -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    fi
    "$CMAKE" --build "$dir" >&2
}

# The native unit tests of the pure core, at build/native/native_tests, where tests/test_native.py
# runs them from.
build_native_tests() {
    build_cmake native -DVEMRAT_PAY_MODULE=OFF -DVEMRAT_PAY_NATIVE_TESTS=ON -DVEMRAT_PAY_WERROR=ON
}

# Whether any test that pytest would select with these arguments needs the browser (the tests
# that take the `browser` fixture carry the `browser` mark). The list is read whole: under
# pipefail, pytest writing into a pipe that `grep -q` had left would make the answer "no".
browser_tests_selected() {
    local selected
    selected=$("$PY" -m pytest --collect-only -q -p no:cacheprovider -m browser "$@" 2>/dev/null) || true
    [[ "$selected" == *::* ]]
}
