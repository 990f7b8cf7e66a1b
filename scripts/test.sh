#!/usr/bin/env bash
# Installs everything the tests need, then runs the C++ engine tests and the Python tests,
# first as built for use, then built with AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

# System packages: GoogleTest, the JSON reader of the engine tests and a C++ compiler.
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing ${missing[*]}..."
    if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The test extra brings CMake (and CTest) into the environment; the docs extra Sphinx and matplotlib.
make_venv "test,docs"
export PATH="$ROOT/.venv/bin:$PATH"
cd "$ROOT"

echo "== C++ engine tests"
BUILD="$ROOT/build/engine-tests"
cmake -S "$ROOT" -B "$BUILD" -DHIVEKIT_BUILD_MODULE=OFF -DHIVEKIT_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"

echo "== Python tests (with the Contributing steps taken in a copy of the repository: one more build)"
HIVEKIT_CONTRIBUTING=1 "$PY" -m pytest -q "$@"

echo "== Documentation (its examples run while it is built; any warning fails)"
"$PY" -m sphinx -W --keep-going -q -b html "$ROOT/docs" "$ROOT/build/docs"

echo "== C++ engine tests and Python tests against one build with AddressSanitizer and UndefinedBehaviorSanitizer"
SANITIZED="$ROOT/build/sanitize"
SANITIZED_PKG="$(PYTHON="$PY" bash "$ROOT/scripts/dev_build.sh" "$SANITIZED" -DHIVEKIT_SANITIZE=ON \
    -DHIVEKIT_BUILD_TESTS=ON | tail -n 1)"
cmake --build "$SANITIZED" -j "$(nproc)" --target engine_tests
timeout 1800 "$SANITIZED/engine_tests" --gtest_brief=1
CXX_USED="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$SANITIZED/CMakeCache.txt")"
# The interpreter is not built with the sanitizers, so their runtime must be
# loaded first, together with the C++ library whose throw it intercepts.
# CPython keeps objects alive at exit by design, so leak reports are off here
# (the engine tests above run with leak detection). The type checks run no
# engine code worth watching, so they run once, above.
LD_PRELOAD="$("$CXX_USED" -print-file-name=libasan.so) $("$CXX_USED" -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 PYTHONPATH="$SANITIZED_PKG" \
    "$PY" -m pytest -q -p no:cacheprovider --ignore=tests/python/test_stubs.py "$@"
