#!/usr/bin/env bash
# Syslog over TCP: messages stored per second and CPU per message, dunmir against rsyslog's imtcp
# in the same run.
#
#   bench/service/tcp_throughput.sh [MESSAGES]      (default 200000 per case)
#
# Two cases: one connection carrying every message, and 100 connections carrying an equal share.
# qvtcpload sends 150-byte RFC 3164 lines, LF-framed, as fast as the receiver takes them (TCP
# pushes back, so nothing is lost); the clock runs until the last message is in the receiver's
# output: dunmir's history (no rules; relay on), rsyslog's omfile with the raw message. CPU is the
# receiver's user and system time over the case, from /proc. rsyslog is unpacked from Debian's
# packages into the benchmark's own folder, never installed. Needs a build (scripts/build.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
messages=${1:-200000}
ticks=$(getconf CLK_TCK)

work=$(mktemp -d /tmp/qvtcpbench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
. "$top/bench/service/common.sh"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for_tcp() {  # until something accepts on TCP port $1
  for _ in $(seq 100); do
    python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1', $1)))" && return 0
    sleep 0.1
  done
  echo "nothing listens on TCP port $1" >&2
  return 1
}

# run NAME PID PORT CONNECTIONS COUNT-COMMAND RESET-COMMAND
run() {
  local name=$1 pid=$2 port=$3 connections=$4 count=$5 reset=$6
  $reset
  local cpu0 t0
  cpu0=$(cpu_ticks "$pid")
  t0=$(date +%s.%N)
  "$build/bench/service/qvtcpload" --port "$port" --connections "$connections" --messages "$messages" >/dev/null
  local got=0 deadline=$((SECONDS + 120))
  while got=$($count) && [ "$got" -lt "$messages" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
  local t1 cpu1
  t1=$(date +%s.%N)
  cpu1=$(cpu_ticks "$pid")
  awk -v n="$name" -v c="$connections" -v g="$got" -v m="$messages" -v t0="$t0" -v t1="$t1" \
      -v u="$((cpu1 - cpu0))" -v hz="$ticks" 'BEGIN {
    printf "%-8s %3d connection(s): %8d of %d stored in %6.2f s: %8.0f msg/s, %5.2f us CPU per message\n",
           n, c, g, m, t1 - t0, g / (t1 - t0), (u / hz) * 1e6 / (g > 0 ? g : 1) }'
}

# dunmir: history on, no rules.
export QUORVEL_HOME=$work/home
qvreg() { "$build/tools/qvreg/qvreg" "$@"; }
settings='Software\Fendrake\Quorvel\Settings'
qvreg set "$settings" udpport dword "$(free_port)"
dport=$(free_port)
qvreg set "$settings" tcpport dword "$dport"
# The 100 connections all come from 127.0.0.1; a real site's come from many addresses.
qvreg set "$settings" tcpperaddr dword 100
qvreg set "$settings" historysize dword 2000000
qvreg set "$settings" SNMPTrapMonitor dword 0
"$build/service/dunmir" debug 2>/dev/null &
dpid=$!
pids+=("$dpid")
wait_for_tcp "$dport"
history_count() { cat "$QUORVEL_HOME"/qvhist?.txt 2>/dev/null | grep -c 'qvbench seq=' || true; }
history_reset() { for f in "$QUORVEL_HOME"/qvhist?.txt; do [ -f "$f" ] && : > "$f"; done; return 0; }
run dunmir "$dpid" "$dport" 1 history_count history_reset
run dunmir "$dpid" "$dport" 100 history_count history_reset
kill "$dpid"

# rsyslog from its Debian packages, unpacked here.
unpack_rsyslog || {
  echo "rsyslog: cannot download its packages"
  exit 0
}
rport=$(free_port)
cat > "$work/rsyslog.conf" <<CONF
module(load="imtcp" MaxSessions="1000")
input(type="imtcp" address="127.0.0.1" port="$rport")
template(name="raw" type="string" string="%rawmsg%\n")
action(type="omfile" file="$work/rsyslog.out" template="raw")
CONF
LD_LIBRARY_PATH=$rsyslog_libdir "$rsyslog_root/usr/sbin/rsyslogd" -n -iNONE -f "$work/rsyslog.conf" -M "$rsyslog_libdir/rsyslog" 2>/dev/null &
rpid=$!
pids+=("$rpid")
wait_for_tcp "$rport"
rsyslog_count() { grep -c 'qvbench seq=' "$work/rsyslog.out" 2>/dev/null || true; }
rsyslog_reset() { [ -f "$work/rsyslog.out" ] && : > "$work/rsyslog.out"; return 0; }
run rsyslog "$rpid" "$rport" 1 rsyslog_count rsyslog_reset
run rsyslog "$rpid" "$rport" 100 rsyslog_count rsyslog_reset
