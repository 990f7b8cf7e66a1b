#!/usr/bin/env bash
# Installs everything the tests need, then runs the C++ engine tests and the Python tests.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

if [ ! -f /usr/include/gtest/gtest.h ]; then
    echo "Installing GoogleTest (libgtest-dev)..."
    if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq libgtest-dev >/dev/null
fi

make_venv "test"
cd "$ROOT"

echo "== C++ engine tests"
BUILD="$ROOT/build/engine-tests"
cmake -S "$ROOT" -B "$BUILD" -DHIVEKIT_BUILD_MODULE=OFF -DHIVEKIT_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"

echo "== Python tests"
"$PY" -m pytest -q "$@"
