# Sourced by the project's scripts: finds a CPython hivekit supports (3.11, 3.12 or 3.13) and prepares the
# virtual environment .venv with the package and the named extras installed.
# HIVEKIT_PYTHON=/path/to/python chooses the interpreter instead of the search.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Newest first: the search takes the first version it finds.
HIVEKIT_PYTHON_VERSIONS=(3.13 3.12 3.11)

# python_version PYTHON: prints "3.N" if PYTHON runs and is a CPython hivekit supports; fails otherwise.
python_version() {
    "$1" -c 'import sys
v = "%d.%d" % sys.version_info[:2]
if sys.implementation.name != "cpython" or v not in sys.argv[1:]:
    sys.exit(1)
print(v)' "${HIVEKIT_PYTHON_VERSIONS[@]}" 2>/dev/null
}

# find_python [3.N]: prints the path of a supported CPython, of version 3.N if given. HIVEKIT_PYTHON, when
# set, is the only one considered; otherwise PATH, /usr/bin, /usr/local/bin and ~/.pyenv/versions are
# searched for 3.13, then 3.12, then 3.11.
find_python() {
    local wanted="${1:-}" version candidate found
    if [ -n "${HIVEKIT_PYTHON:-}" ]; then
        found="$(python_version "$HIVEKIT_PYTHON")" || {
            echo "HIVEKIT_PYTHON=$HIVEKIT_PYTHON is not a CPython 3.11, 3.12 or 3.13 that runs." >&2
            return 1
        }
        if [ -n "$wanted" ] && [ "$found" != "$wanted" ]; then
            echo "HIVEKIT_PYTHON=$HIVEKIT_PYTHON is CPython $found, not $wanted." >&2
            return 1
        fi
        "$HIVEKIT_PYTHON" -c 'import sys; print(sys.executable)'
        return 0
    fi
    for version in "${HIVEKIT_PYTHON_VERSIONS[@]}"; do
        [ -z "$wanted" ] || [ "$version" = "$wanted" ] || continue
        for candidate in "python$version" "/usr/bin/python$version" "/usr/local/bin/python$version" \
            "$HOME"/.pyenv/versions/"$version".*/bin/"python$version"; do
            if command -v "$candidate" >/dev/null 2>&1 && [ "$(python_version "$candidate")" = "$version" ]; then
                # The interpreter itself, not a launcher in front of it (pyenv's shims, say).
                "$candidate" -c 'import sys; print(sys.executable)'
                return 0
            fi
        done
    done
    echo "hivekit needs CPython ${wanted:-3.11, 3.12 or 3.13}; none was found (looked on PATH, in /usr/bin," \
        "/usr/local/bin and ~/.pyenv/versions). Install one, or name it with HIVEKIT_PYTHON=/path/to/python." >&2
    return 1
}

# make_venv EXTRAS: creates .venv if it is missing or not of a supported CPython (or not of HIVEKIT_PYTHON's
# version, when that is set) and installs the package with EXTRAS.
make_venv() {
    local extras="$1"
    local venv="$ROOT/.venv" python have wanted=""
    [ -z "${HIVEKIT_PYTHON:-}" ] || wanted="$(python_version "$HIVEKIT_PYTHON")" || wanted="invalid"
    have="$( [ -x "$venv/bin/python" ] && python_version "$venv/bin/python")" || have=""
    if [ -z "$have" ] || { [ -n "$wanted" ] && [ "$have" != "$wanted" ]; }; then
        python="$(find_python)"
        echo "Creating $venv with $python (CPython $(python_version "$python"))."
        rm -rf "$venv"
        "$python" -m venv "$venv"
    fi
    PY="$venv/bin/python"
    "$PY" -m pip install --quiet --upgrade pip
    "$PY" -m pip install --quiet "$ROOT${extras:+[$extras]}"
}
