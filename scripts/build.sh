#!/usr/bin/env bash
# Configures and builds the project into build/ (or $QUORVEL_BUILD_DIR). Extra arguments are
# passed to CMake's configure step, for example -DQUORVEL_SANITIZE=ON.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
