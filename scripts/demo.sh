#!/usr/bin/env bash
# Installs hivekit into .venv and runs the demonstration on built-in problems.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
make_venv ""
cd "$ROOT"
exec "$PY" -m hivekit "$@"
