# Sourced by the project's scripts: finds CPython 3.13 and prepares the
# virtual environment .venv with the package and the named extras installed.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

find_python() {
    local candidate
    for candidate in python3.13 /usr/bin/python3.13 /usr/local/bin/python3.13 \
        "$HOME"/.pyenv/versions/3.13*/bin/python3.13; do
        if command -v "$candidate" >/dev/null 2>&1 &&
            "$candidate" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; then
            command -v "$candidate"
            return 0
        fi
    done
    echo "hivekit needs CPython 3.13; none was found (looked on PATH, in /usr/bin and in ~/.pyenv)." >&2
    return 1
}

# make_venv EXTRAS: creates .venv if needed and installs the package with EXTRAS.
make_venv() {
    local extras="$1"
    local venv="$ROOT/.venv"
    if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
        rm -rf "$venv"
        "$(find_python)" -m venv "$venv"
    fi
    PY="$venv/bin/python"
    "$PY" -m pip install --quiet --upgrade pip
    "$PY" -m pip install --quiet "$ROOT${extras:+[$extras]}"
}
