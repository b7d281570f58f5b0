#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$@"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
