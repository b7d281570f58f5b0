#!/usr/bin/env bash
# Highest loss-free syslog rate of dunmir, against rsyslog measured the same way in the same run.
#
#   bench/service/throughput.sh [RATE...]      (messages per second; default 50k to 500k)
#
# Each receiver gets an evenly paced load from qvloadgen (150-byte RFC 3164 messages, 5 s per
# rate, on 127.0.0.1 only). dunmir runs with its history, relay and ten typical rules on; rsyslog
# runs in the foreground with imudp (rcvbufSize 4m, the buffer dunmir asks for) and one omfile
# action writing the raw message. What reached the output file is counted after each step; a
# rate counts as kept up with when less than 0.1% was lost. rsyslog is unpacked from Debian's
# packages into the benchmark's own folder, never installed. Needs a build (scripts/build.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 100000 150000 200000 250000 300000 350000 400000 450000 500000)
seconds=5

work=$(mktemp -d /tmp/qvbench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for_port() {  # until something holds UDP port $1
  for _ in $(seq 100); do
    python3 -c "import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try: s.bind(('127.0.0.1', $1))
except OSError: sys.exit(0)
sys.exit(1)" && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# measure NAME PORT COUNT-COMMAND RESET-COMMAND: prints a line per rate and sets $best.
measure() {
  local name=$1 port=$2 count=$3 reset=$4 failures=0 first=1
  best=0
  for rate in "${rates[@]}"; do
    $reset
    local sent
    sent=$("$build/bench/service/qvloadgen" --port "$port" --rate "$rate" --seconds "$seconds" --first "$first" |
      awk '{print $2}')
    first=$((first + sent))
    sleep 2  # let the receiver drain its buffer
    local got
    got=$($count)
    local loss
    loss=$(awk -v s="$sent" -v g="$got" 'BEGIN { printf "%.3f", (s - g) * 100 / s }')
    printf '%-8s %7d/s offered: %8d sent, %8d stored, %6s%% lost\n' "$name" "$rate" "$sent" "$got" "$loss"
    if awk -v l="$loss" 'BEGIN { exit !(l < 0.1) }'; then
      best=$rate
      failures=0
    else
      failures=$((failures + 1))
      if [ $failures -ge 2 ]; then break; fi
    fi
  done
}

# dunmir, with ten typical rules; one of them highlights every benchmark message.
export QUORVEL_HOME=$work/home
qvreg() { "$build/tools/qvreg/qvreg" "$@"; }
settings='Software\Fendrake\Quorvel\Settings'
dport=$(free_port)
qvreg set "$settings" udpport dword "$dport"
qvreg set "$settings" historysize dword 2000000
qvreg set "$settings" rulescount dword 10
rule=0
add_rule() {  # NAME ACTION [VALUE-NAME TYPE VALUE]...
  local key="Software\\Fendrake\\Quorvel\\Rules\\rule$rule"
  qvreg set "$key" Name sz "$1"
  qvreg set "$key" Action dword "$2"
  shift 2
  while [ $# -gt 0 ]; do qvreg set "$key" "$1" "$2" "$3"; shift 3; done
  rule=$((rule + 1))
}
add_rule "Errors" 1 Message sz "error" ActionValue sz "$work/errors.log"
add_rule "Auth failures" 1 Message sz "authentication failure" ActionValue sz "$work/auth.log"
add_rule "Disk full" 6 Message sz "No space left on device"
add_rule "Link down" 7 Message sz 'changed state to <down>' UseRegExp dword 1
add_rule "Denied" 1 Message sz 'denied \w+ \d+\.\d+\.\d+\.\d+' UseRegExp dword 1 ActionValue sz "$work/denied.log"
add_rule "Privilege" 7 Message sz '\c(sshd)|(sudo)\[\d+\]:' UseRegExp dword 1
add_rule "Core switch" 7 Hostname sz "core-sw1"
add_rule "Urgent" 1 Severity dword 11 ThreshSecs dword 60 ActionValue sz "$work/urgent.log"
add_rule "Firewall" 1 IP dword 3232235786 ActionValue sz "$work/firewall.log"
add_rule "Bench traffic" 7 Facility dword 16 Message sz "qvbench"

"$build/service/dunmir" debug 2>/dev/null &
pids+=($!)
wait_for_port "$dport"
history_count() { cat "$QUORVEL_HOME"/qvhist?.txt 2>/dev/null | grep -c 'qvbench seq=' || true; }
history_reset() { for f in "$QUORVEL_HOME"/qvhist?.txt; do [ -f "$f" ] && : > "$f"; done; return 0; }
measure dunmir "$dport" history_count history_reset
dunmir_best=$best
kill "${pids[0]}"

# rsyslog from its Debian packages, unpacked here.
root=$work/rsyslog
mkdir -p "$root" "$work/debs"
(cd "$work/debs" && apt-get download -q rsyslog libestr0 libfastjson4 liblognorm5 >/dev/null 2>&1) || {
  echo "rsyslog: cannot download its packages; dunmir kept up with $dunmir_best/s"
  exit 0
}
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
libdir=$root/usr/lib/x86_64-linux-gnu
rport=$(free_port)
cat > "$work/rsyslog.conf" <<CONF
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$rport" rcvbufSize="4m")
template(name="raw" type="string" string="%rawmsg%\n")
action(type="omfile" file="$work/rsyslog.out" template="raw")
CONF
LD_LIBRARY_PATH=$libdir "$root/usr/sbin/rsyslogd" -n -iNONE -f "$work/rsyslog.conf" -M "$libdir/rsyslog" 2>/dev/null &
pids+=($!)
wait_for_port "$rport"
rsyslog_count() { grep -c 'qvbench seq=' "$work/rsyslog.out" 2>/dev/null || true; }
rsyslog_reset() { [ -f "$work/rsyslog.out" ] && : > "$work/rsyslog.out"; return 0; }
measure rsyslog "$rport" rsyslog_count rsyslog_reset
rsyslog_best=$best

echo
echo "highest rate with less than 0.1% lost: dunmir $dunmir_best/s, rsyslog $rsyslog_best/s"
awk -v d="$dunmir_best" -v r="$rsyslog_best" 'BEGIN { if (r > 0) printf "ratio dunmir/rsyslog: %.2f\n", d / r }'
