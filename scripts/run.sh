#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job in the foreground.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
exec "$build/tools/qvdemo" "$@"
