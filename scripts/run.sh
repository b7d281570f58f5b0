#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job in the foreground: the viewer Quorvel
# when a display is available, else the service engine dunmir on the configured syslog port (514
# unless "udpport" says otherwise).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
export QUORVEL_HOME=${QUORVEL_HOME:-/var/lib/quorvel}
port=$("$build/tools/qvreg/qvreg" get 'Software\Fendrake\Quorvel\Settings' udpport 2>/dev/null || echo 514)
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Quorvel: data in $QUORVEL_HOME, the viewer receives syslog on UDP port $port (or shows the service's)"
  exec "$build/ui/Quorvel" "$@"
fi
echo "Quorvel: data in $QUORVEL_HOME, receiving syslog on UDP port $port (Ctrl-C stops)"
exec "$build/service/dunmir" debug
