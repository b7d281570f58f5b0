#!/usr/bin/env bash
# Installs the Debian package on this machine, runs it, upgrades, removes and purges it.
# It changes the machine (packages, the user and group quorvel, /var/lib/quorvel, a test user
# in the group), so it runs only with QUORVEL_INSTALL_TEST=1 and as root; otherwise it exits 77,
# which CTest reports as skipped. It sends only to 127.0.0.1 and ends only the processes it
# started, by their process ids.
#
#   install_test.sh SOURCE_DIR
set -uo pipefail
top=$1
if [ "${QUORVEL_INSTALL_TEST:-}" != 1 ]; then echo "skipped: set QUORVEL_INSTALL_TEST=1 to run it"; exit 77; fi
if [ "$(id -u)" -ne 0 ]; then echo "skipped: needs root"; exit 77; fi
for tool in apt-get logger setpriv useradd; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
member=qvinstalltest
receiver=
passed=0
failed=0
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  [ -n "$receiver" ] && kill "$receiver" 2>/dev/null && wait "$receiver"
  getent passwd "$member" >/dev/null && userdel -f "$member"  # -f: a stale process may hold its uid
  rm -rf "$work"
}
trap cleanup EXIT
ok() { passed=$((passed + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAILED: $*"; }
finish() { echo "install test: $passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit; }
export QUORVEL_HOME=/var/lib/quorvel
data=/var/lib/quorvel
systemd=0
[ -d /run/systemd/system ] && systemd=1

# The package's own dunmir (never one of a build tree that a test runs).
service_pid() {
  local pid
  for pid in $(pgrep -x dunmir); do
    [ "$(readlink "/proc/$pid/exe")" = /usr/bin/dunmir ] && { echo "$pid"; return 0; }
  done
  return 1
}
no_service() { ! service_pid >/dev/null; }
wait_for() {  # wait_for SECONDS COMMAND...: true once COMMAND succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@"; do [ $SECONDS -ge "$end" ] && return 1; sleep 0.2; done
}
start_service() {
  if [ $systemd -eq 1 ]; then systemctl start quorvel.service; else qvsc start; fi
}
install_package() {
  apt-get install -y -q --no-install-recommends "$1" >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; return 1; }
}

echo "building the package and a rebuilt one that upgrades it"
first=$("$top/scripts/package.sh" 2>/dev/null | tail -n 1) || { bad "scripts/package.sh"; finish; }
cp "$first" "$work/"
second=$(QUORVEL_PACKAGE_BUILD=2 "$top/scripts/package.sh" 2>/dev/null | tail -n 1) || { bad "rebuilt package"; finish; }
first=$work/$(basename "$first")

if dpkg -s quorvel >/dev/null 2>&1; then apt-get purge -y -q quorvel >/dev/null 2>&1; fi
if install_package "$first"; then ok "apt-get install $(basename "$first")"; else bad "install"; finish; fi
if getent passwd quorvel >/dev/null && [ "$(stat -c '%G %a' "$data")" = "quorvel 2770" ]; then
  ok "user quorvel and data root $data ($(stat -c '%U:%G %a' "$data"))"
else
  bad "user or data root: $(stat -c '%U:%G %a' "$data" 2>&1)"
fi

[ $systemd -eq 1 ] || echo "no systemd as PID 1: starting with qvsc start"
start_service >/dev/null 2>&1
if wait_for 10 service_pid >/dev/null && pid=$(service_pid); then ok "dunmir runs as process $pid"; else bad "dunmir does not run: $(qvsc query 2>&1)"; finish; fi
status=/proc/$pid/status
uid=$(id -u quorvel)
if [ "$(awk '/^Uid:/ {print $2 $3 $4 $5}' "$status")" = "$uid$uid$uid$uid" ]; then
  ok "dunmir runs as quorvel (uid $uid)"
else
  bad "dunmir's user: $(grep '^Uid:' "$status")"
fi
# CAP_NET_BIND_SERVICE is bit 10, CAP_NET_RAW bit 13.
caps=$(awk '/^Cap(Prm|Eff|Inh|Amb):/ {printf "%s=%s ", $1, $2}' "$status")
if [ "$caps" = "CapInh:=0000000000000000 CapPrm:=0000000000002400 CapEff:=0000000000002400 CapAmb:=0000000000000000 " ] ||
    { [ $systemd -eq 1 ] && echo "$caps" | grep -q 'CapPrm:=0000000000002400 CapEff:=0000000000002400'; }; then
  ok "only CAP_NET_BIND_SERVICE and CAP_NET_RAW: $caps"
else
  bad "capabilities: $caps"
fi

# A member of the group quorvel watches the relay while logger sends to port 514.
useradd --system --no-create-home --groups quorvel "$member"
# setpriv runs the receiver in place, so $! is its own process id. Umask 007 as the viewer
# uses: the service writes to the socket as a member of its group.
setpriv --reuid="$member" --regid="$(id -g "$member")" --init-groups /usr/bin/python3 -c 'import os, socket, sys
os.umask(0o007); s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1]); s.settimeout(15)
while True: sys.stdout.buffer.write(s.recv(1 << 18) + b"\n"); sys.stdout.flush()' "$data/relay" >"$work/relay.txt" 2>&1 &
receiver=$!
wait_for 5 test -S "$data/relay" || bad "the member could not bind the relay: $(cat "$work/relay.txt")"
text="install test message $$ $RANDOM"
logger -n 127.0.0.1 -P 514 -d -t qvtest "$text"
in_history() { cat "$data"/qvhist?.txt 2>/dev/null | grep -q "$text"; }
if wait_for 10 in_history; then ok "the message is in the history"; else bad "the message is not in the history"; fi
if wait_for 10 grep -q "$text" "$work/relay.txt"; then
  ok "the member of the group sees it on the relay: $(grep "$text" "$work/relay.txt" | cut -c1-100)"
else
  bad "the relay: $(cat "$work/relay.txt")"
fi
kill "$receiver" 2>/dev/null; wait "$receiver" 2>/dev/null; receiver=
rm -f "$data/relay"

if install_package "$second"; then ok "upgraded to $(dpkg-query -W -f='${Version}' quorvel)"; else bad "upgrade"; finish; fi
if in_history; then ok "the history is kept"; else bad "the history was lost"; fi
if wait_for 10 service_pid >/dev/null && [ "$(service_pid)" != "$pid" ]; then
  ok "the service was restarted (process $(service_pid))"
else
  bad "the service was not restarted: $(qvsc query 2>&1)"
fi

apt-get remove -y -q quorvel >"$work/apt.log" 2>&1 || bad "remove: $(tail -5 "$work/apt.log")"
if ! wait_for 10 no_service; then
  bad "the service still runs after remove"
elif [ -d "$data" ] && getent passwd quorvel >/dev/null; then
  ok "remove stopped the service and kept the data root and the user"
else
  bad "remove deleted the data root or the user"
fi
apt-get purge -y -q quorvel >"$work/apt.log" 2>&1 || bad "purge: $(tail -5 "$work/apt.log")"
if [ ! -e "$data" ] && ! getent passwd quorvel >/dev/null && ! getent group quorvel >/dev/null; then
  ok "purge deleted the data root, the user and the group"
else
  bad "purge left: $(ls -ld "$data" 2>&1) $(getent passwd quorvel) $(getent group quorvel)"
fi
finish
