#!/usr/bin/env bash
# Checks hivekit beyond the native build of scripts/test.sh: the engine and its
# C++ tests built with Clang, cross-compiled for arm64 and run under qemu-user,
# and cross-compiled with MinGW-w64 and run under wine. Installs what it needs.
#
# Every check is one stage: `stage NAME -- command...` runs the command, whose
# own output says what it checked, and reports PASS or FAIL with the time it
# took; a stage's build output goes to build/platforms/logs/NAME.log, whose end
# is shown when the stage fails. A summary closes the run, and the script exits
# non-zero when any stage failed. Arguments name the stages to run (all when
# none is given), e.g.  bash scripts/platforms.sh clang arm64
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/build/platforms"
LOGS="$OUT/logs"
JOBS="$(nproc)"
mkdir -p "$LOGS"

# ---------------------------------------------------------------- stages

RESULTS=()
FAILED=0
STAGE_LOG=/dev/null
SELECTED=("$@")

# stage NAME -- command...: runs one check (skipped when stages were named on
# the command line and NAME is not among them).
stage() {
    local name="$1"
    shift
    [ "${1:-}" = "--" ] && shift
    if [ "${#SELECTED[@]}" -gt 0 ] && [[ " ${SELECTED[*]} " != *" $name "* ]]; then return 0; fi
    STAGE_LOG="$LOGS/$name.log"
    : >"$STAGE_LOG"
    echo "== $name"
    local start=$SECONDS status
    # The command runs in a subshell with errexit on, so its first failing step ends it.
    set +e
    (
        set -e
        "$@"
    )
    status=$?
    set -e
    local took=$((SECONDS - start))
    if [ "$status" -eq 0 ]; then
        RESULTS+=("PASS  $name  (${took} s)")
        echo "-- $name: PASS (${took} s)"
    else
        FAILED=1
        RESULTS+=("FAIL  $name  (${took} s)")
        echo "-- $name: FAIL (${took} s, exit $status; log: ${STAGE_LOG#"$ROOT"/})"
    fi
}

# quietly command...: runs a build step into the stage's log; on failure shows its end.
quietly() {
    if ! "$@" >>"$STAGE_LOG" 2>&1; then
        echo "   failed: $*"
        tail -n 40 "$STAGE_LOG" | sed 's/^/   | /'
        return 1
    fi
}

summary() {
    echo "== summary"
    printf '   %s\n' "${RESULTS[@]}"
    echo "   total $SECONDS s"
    return "$FAILED"
}

# ---------------------------------------------------------------- tools

# need_packages PKG...: installs the Debian packages that are missing.
need_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "   installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >>"$LOGS/packages.log" 2>&1
}

CMAKE=/usr/bin/cmake

# ---------------------------------------------------------------- engine builds

# The engine tests as the tests of every platform: their summary, and the
# ChaCha kernels on which the recorded vectors ran: run_engine_tests EXE [EMULATOR...].
run_engine_tests() {
    local exe="$1"
    shift
    local kernels
    kernels="$("$@" "$exe" --gtest_list_tests --gtest_filter='ChachaPaths/*' |
        sed -n 's|^  [A-Za-z]*/\([a-z0-9]*\).*|\1|p' | tr '\n' ' ')"
    echo "   recorded vectors (tests/data/random_source.json) run on the ChaCha kernels: ${kernels% }"
    local out status=0
    out="$("$@" "$exe" --gtest_brief=1 2>&1)" || status=$?
    echo "$out" >>"$STAGE_LOG"
    if [ "$status" -eq 0 ]; then
        echo "$out" | grep -E '^\[ *(PASSED|SKIPPED) *\]|^\[==========\]' | sed 's/^/   /'
    else
        echo "$out" | tail -n 60 | sed 's/^/   | /'
    fi
    return "$status"
}

# build_engine DIR CMAKE-ARGS...: the engine and its tests, without the extension.
build_engine() {
    local dir="$1"
    shift
    quietly "$CMAKE" -S "$ROOT" -B "$dir" -DHIVEKIT_BUILD_MODULE=OFF -DHIVEKIT_BUILD_TESTS=ON \
        -DCMAKE_BUILD_TYPE=Release "$@"
    quietly "$CMAKE" --build "$dir" -j "$JOBS" --target engine_tests
    local warnings
    warnings="$(grep -c 'warning:' "$STAGE_LOG" || true)"
    echo "   compiler warnings: $warnings"
    [ "$warnings" -eq 0 ] || grep 'warning:' "$STAGE_LOG" | sort -u | head -n 20 | sed 's/^/   /'
}

# GoogleTest for a cross target, built from the sources libgtest-dev ships, and
# the header-only JSON reader beside it: arguments for the engine's CMake.
cross_test_libraries() {
    local name="$1" toolchain="$2"
    local prefix="$OUT/$name/deps"
    if [ ! -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
        quietly "$CMAKE" -S /usr/src/googletest -B "$OUT/$name/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$prefix"
        quietly "$CMAKE" --build "$OUT/$name/googletest" -j "$JOBS"
        quietly "$CMAKE" --install "$OUT/$name/googletest"
    fi
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -r /usr/include/nlohmann "$prefix/include/"
    cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
    CROSS_ARGS=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DGTest_DIR="$prefix/lib/cmake/GTest"
        -Dnlohmann_json_DIR="$prefix/share/cmake/nlohmann_json")
}

check_clang() {
    need_packages clang cmake make file libgtest-dev nlohmann-json3-dev
    echo "   checks: the engine and its C++ tests built with $(clang++ --version | head -n 1), all passing"
    build_engine "$OUT/clang" -DCMAKE_CXX_COMPILER=clang++
    run_engine_tests "$OUT/clang/engine_tests"
}

check_arm64() {
    need_packages g++-aarch64-linux-gnu qemu-user cmake make file libgtest-dev nlohmann-json3-dev
    echo "   checks: the engine and its C++ tests cross-compiled for arm64 with" \
        "$(aarch64-linux-gnu-g++ --version | head -n 1), run under $(qemu-aarch64 --version | head -n 1)"
    cross_test_libraries arm64 "$ROOT/cmake/toolchains/aarch64-linux-gnu.cmake"
    build_engine "$OUT/arm64/engine" "${CROSS_ARGS[@]}"
    echo "   binary: $(file -b "$OUT/arm64/engine/engine_tests" | cut -d, -f1-2)"
    run_engine_tests "$OUT/arm64/engine/engine_tests" qemu-aarch64 -L /usr/aarch64-linux-gnu
}

check_windows() {
    need_packages g++-mingw-w64-x86-64-posix wine wine64 cmake make file libgtest-dev nlohmann-json3-dev
    echo "   checks: the engine and its C++ tests cross-compiled for 64-bit Windows with" \
        "$(x86_64-w64-mingw32-g++-posix --version | head -n 1), run under $(wine --version 2>/dev/null)"
    cross_test_libraries windows "$ROOT/cmake/toolchains/mingw-w64-x86_64.cmake"
    build_engine "$OUT/windows/engine" "${CROSS_ARGS[@]}"
    echo "   binary: $(file -b "$OUT/windows/engine/engine_tests.exe" | cut -d, -f1-2)"
    # A wine prefix of its own, without the .NET and HTML engines wine offers to install.
    export WINEPREFIX="$OUT/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    quietly wineboot --init
    run_engine_tests "$OUT/windows/engine/engine_tests.exe" wine
    quietly wineserver --wait
}

stage clang -- check_clang
stage arm64 -- check_arm64
stage windows -- check_windows
# The package under each CPython the machine has, and a repaired manylinux wheel.
source "$ROOT/scripts/platforms_python.sh"
python_stages
stage wheel -- stage_wheel

summary
