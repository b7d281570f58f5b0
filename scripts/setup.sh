#!/usr/bin/env bash
# Installs every Debian package listed in scripts/packages.d/*.txt that is not installed yet.
# Each part of the system lists what it needs in a file of its own there.
# Idempotent: when everything is present it changes nothing and needs no network.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

missing=()
while read -r pkg; do
  [ -z "$pkg" ] && continue
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$pkg")
done < <(cat "$here"/packages.d/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | sort -u)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
