#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job in the foreground.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
export QUORVEL_HOME=${QUORVEL_HOME:-/var/lib/quorvel}
echo "Data root: $QUORVEL_HOME"
if [ $# -eq 0 ]; then
  set -- "<34>Oct 11 22:14:15 mymachine su: 'su root' failed for lonvick on /dev/pts/8" "<13>no time stamp here"
fi
exec "$build/tools/qvparse/qvparse" "$@"
