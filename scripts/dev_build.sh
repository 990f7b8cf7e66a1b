#!/usr/bin/env bash
# Developer build: compiles the extension with CMake into DIR (default build/dev)
# and lays out an importable package in DIR/pkg, so that several working builds
# can coexist. Use:  PYTHONPATH=DIR/pkg .venv/bin/python -m pytest tests/python
# Arguments after DIR go to CMake, e.g. -DHIVEKIT_SANITIZE=ON.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
DIR="${1:-$ROOT/build/dev}"
mkdir -p "$DIR" && DIR="$(cd "$DIR" && pwd)"  # the links below must not depend on the caller's directory
PYTHON="${PYTHON:-$ROOT/.venv/bin/python}"
[ -x "$PYTHON" ] || PYTHON="$(find_python)"
cmake -S "$ROOT" -B "$DIR" -DHIVEKIT_BUILD_MODULE=ON -DPython_EXECUTABLE="$PYTHON" -DCMAKE_BUILD_TYPE=Release "${@:2}" >/dev/null
cmake --build "$DIR" -j "$(nproc)" --target _hivekit
mkdir -p "$DIR/pkg/hivekit"
for f in "$ROOT"/python/hivekit/*; do ln -sfn "$f" "$DIR/pkg/hivekit/$(basename "$f")"; done
ln -sfn "$(ls "$DIR"/_hivekit*.so | head -n 1)" "$DIR/pkg/hivekit/"
echo "$DIR/pkg"
