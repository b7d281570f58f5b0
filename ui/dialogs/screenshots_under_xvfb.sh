#!/bin/sh
# Runs the dialog screenshot program on an X server of its own (Xvfb picks a free display and
# reports it), then stops that server by its process id. Skips (exit 77) without Xvfb.
set -u
program=$1
folder=$2
command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb is not installed"; exit 77; }
mkdir -p "$folder"
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$displayfile"' EXIT
for _ in $(seq 100); do
  [ -s "$displayfile" ] && break
  sleep 0.1
done
display=$(head -n 1 "$displayfile")
[ -n "$display" ] || { echo "Xvfb did not start"; exit 1; }
DISPLAY=":$display" QT_QPA_PLATFORM=xcb timeout 120 "$program" "$folder"
