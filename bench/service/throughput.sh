#!/usr/bin/env bash
# Highest loss-free syslog rate of dunmir, its CPU time per stored message and its loss in a
# flood, against rsyslog measured the same way in the same run.
#
#   bench/service/throughput.sh [RATE...]      (messages per second; default 50k to 500k)
#
# Each receiver gets an evenly paced load from qvloadgen (150-byte RFC 3164 messages, 5 s per
# rate, on 127.0.0.1 only). dunmir runs with its history, relay and ten typical rules on; rsyslog
# runs in the foreground with imudp (rcvbufSize 4m, the buffer dunmir asks for) and one omfile
# action writing the raw message. What reached the output file is counted after each step; a
# rate counts as kept up with when less than 0.1% was lost; the highest rate reported is the
# highest below which every rate was kept up with. Where the sender itself cannot reach a rate
# (one core of a small machine sends about 400,000/s), the ladder ends and the figure is marked
# as a lower bound. The CPU figure of a step is the user and system time of the receiving
# process, all its threads together (/proc/PID/stat), from the start of the step until it has
# drained, divided by the messages stored; beside it, the same for its busiest thread, which
# bounds the rate once the machine has a core for each busy thread. Last, each receiver
# is offered one unpaced burst of $BURST messages (default 1,000,000) and the share lost is
# printed. Then dunmir is measured again with three remote viewers attached over TLS (the viewer
# link, certificates from `qvreg viewer-cert`), each a client that reads everything as it comes;
# the aim is a highest rate within 10% of the one without them. On one small machine the
# viewers' own reading and the link's thread take cores from the sender and the receiver, so the
# busiest thread's CPU per message is the figure that carries over to a server.
# rsyslog is unpacked from Debian's packages into the benchmark's own folder, never
# installed. Needs a build (scripts/build.sh). The machine's load is printed at start and end:
# figures from a busy machine are only comparable within one run.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(50000 100000 150000 200000 250000 300000 350000 400000 450000 500000)
seconds=5
burst=${BURST:-1000000}
ticks=$(getconf CLK_TCK)
echo "start: $(uptime)"

work=$(mktemp -d /tmp/qvbench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
. "$top/bench/service/common.sh"

# "TID TICKS" for each thread of process $1.
thread_ticks() {
  local task
  for task in /proc/"$1"/task/*; do
    echo "${task##*/} $(sed 's/.*) //' "$task/stat" 2>/dev/null | awk '{ print $12 + $13 }')"
  done
}
# The most ticks one thread used between two thread_ticks readings: the thread that bounds the
# rate once the machine has a core for every busy thread.
busiest_thread() { awk 'NR == FNR { before[$1] = $2; next } { d = $2 - before[$1]; if (d > m) m = d } END { print m + 0 }' <(echo "$1") <(echo "$2"); }
# Microseconds of CPU per message from a tick difference and a count.
per_message() { awk -v t="$1" -v n="$2" -v hz="$ticks" 'BEGIN { if (n > 0) printf "%.2f", t * 1e6 / hz / n; else print "-" }'; }
# Waits until COUNT-COMMAND gives the same figure twice, half a second apart (at most 60 s).
settle() {
  local last=-1 now
  for _ in $(seq 120); do
    now=$($1)
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.5
  done
}

# measure NAME PID PORT COUNT-COMMAND RESET-COMMAND: prints a line per rate and sets $best (the
# highest rate sent and kept up with), $cpu (microseconds per stored message in the first step,
# 50,000/s by default) and $next, the first sequence number not yet sent. A step whose sender fell
# short of its rate is the last, and sets $bound to a note when nothing was lost up to it: the
# highest rate is then the sender's limit on this machine, a lower bound of the receiver's.
measure() {
  local name=$1 pid=$2 port=$3 count=$4 reset=$5 failures=0
  best=0
  cpu=-
  bound=
  next=1
  for rate in "${rates[@]}"; do
    $reset
    local before threads_before sent got loss used busiest
    before=$(cpu_ticks "$pid")
    threads_before=$(thread_ticks "$pid")
    local report achieved
    report=$("$build/bench/service/qvloadgen" --port "$port" --rate "$rate" --seconds "$seconds" --first "$next")
    sent=$(awk '{print $2}' <<<"$report")
    achieved=$(awk '{gsub(/[()]|\/s/, "", $NF); printf "%d", $NF}' <<<"$report")
    next=$((next + sent))
    sleep 2  # let the receiver drain its buffer
    got=$($count)
    used=$(per_message $(($(cpu_ticks "$pid") - before)) "$got")
    busiest=$(per_message "$(busiest_thread "$threads_before" "$(thread_ticks "$pid")")" "$got")
    [ "$cpu" = "-" ] && cpu=$used && busiest_cpu=$busiest
    loss=$(awk -v s="$sent" -v g="$got" 'BEGIN { printf "%.3f", (s - g) * 100 / s }')
    printf '%-8s %7d/s offered (%7d/s sent): %8d sent, %8d stored, %6s%% lost, %6s us CPU per stored message (busiest thread %s)\n' \
      "$name" "$rate" "$achieved" "$sent" "$got" "$loss" "$used" "$busiest"
    if awk -v l="$loss" 'BEGIN { exit !(l < 0.1) }'; then
      # A rate kept up with above one that was not is luck, not capacity: it does not count.
      if [ $failures -eq 0 ]; then best=$((achieved < rate ? achieved : rate)); fi
    else
      failures=$((failures + 1))
      if [ $failures -ge 2 ]; then break; fi
    fi
    # A sender that cannot reach the rate tests nothing above it: the figure is a lower bound.
    if [ $((achieved * 100)) -lt $((rate * 95)) ]; then
      [ $failures -eq 0 ] && bound=" (at least: the sender's own limit)"
      break
    fi
  done
}

# flood NAME PID PORT COUNT-COMMAND RESET-COMMAND: one unpaced burst; sets $lost (percent).
flood() {
  local name=$1 pid=$2 port=$3 count=$4 reset=$5 report sent got before used
  $reset
  before=$(cpu_ticks "$pid")
  report=$("$build/bench/service/qvloadgen" --port "$port" --burst "$burst" --first "$next")
  sent=$(awk '{print $2}' <<<"$report")
  settle "$count"
  got=$($count)
  used=$(per_message $(($(cpu_ticks "$pid") - before)) "$got")
  lost=$(awk -v s="$sent" -v g="$got" 'BEGIN { printf "%.1f", (s - g) * 100 / s }')
  printf '%-8s burst: %8d sent at %s, %8d stored, %5s%% lost, %6s us CPU per stored message\n' \
    "$name" "$sent" "$(awk '{print $NF}' <<<"$report" | tr -d '()')" "$got" "$lost" "$used"
}

# dunmir, with ten typical rules; one of them highlights every benchmark message.
export QUORVEL_HOME=$work/home
qvreg() { "$build/tools/qvreg/qvreg" "$@"; }
settings='Software\Fendrake\Quorvel\Settings'
dport=$(free_udp_port)
qvreg set "$settings" udpport dword "$dport"
qvreg set "$settings" historysize dword 2000000
vport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
qvreg set "$settings" viewerport dword "$vport"
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

"$build/service/dunmir" debug 2>"$work/dunmir.err" &
dunmir_pid=$!
pids+=($dunmir_pid)
wait_for_udp_port "$dport" "$work/dunmir.err"
history_count() { cat "$QUORVEL_HOME"/qvhist?.txt 2>/dev/null | grep -c 'qvbench seq=' || true; }
history_reset() { for f in "$QUORVEL_HOME"/qvhist?.txt; do [ -f "$f" ] && : > "$f"; done; return 0; }
measure dunmir "$dunmir_pid" "$dport" history_count history_reset
dunmir_best=$best
dunmir_cpu=$cpu
dunmir_busiest=$busiest_cpu
dunmir_bound=$bound
flood dunmir "$dunmir_pid" "$dport" history_count history_reset
dunmir_lost=$lost

# The same with three remote viewers reading the live stream.
viewer() {  # CERTIFICATE-FILE: reads the stream until it ends
  python3 -c '
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.load_verify_locations(sys.argv[1])
context.load_cert_chain(sys.argv[1])
context.check_hostname = False
link = context.wrap_socket(socket.create_connection(("127.0.0.1", int(sys.argv[2]))))
link.sendall(b"backfill 0\n")
while link.recv(1 << 20):
    pass
' "$1" "$vport"
}
for n in 1 2 3; do
  viewer "$(qvreg viewer-cert "bench$n")" &
  pids+=($!)
done
sleep 1
measure dunmir+3v "$dunmir_pid" "$dport" history_count history_reset
viewers_best=$best
viewers_cpu=$cpu
viewers_busiest=$busiest_cpu
viewers_bound=$bound
viewers_summary() {
  echo "with 3 remote viewers: dunmir kept up with $viewers_best/s$viewers_bound (without: $dunmir_best/s$dunmir_bound), $viewers_cpu us CPU per message at ${rates[0]}/s (without: $dunmir_cpu us)"
  echo "busiest thread at ${rates[0]}/s: $viewers_busiest us per message with viewers, $dunmir_busiest us without"
  awk -v v="$viewers_best" -v d="$dunmir_best" -v vc="$viewers_cpu" -v dc="$dunmir_cpu" \
    -v vb="$viewers_busiest" -v db="$dunmir_busiest" 'BEGIN {
    if (d > 0) printf "ratio with/without viewers: %.2f\n", v / d
    if (dc > 0) printf "CPU per message with/without viewers: %.2f\n", vc / dc
    if (db > 0) printf "busiest thread per message with/without viewers: %.2f\n", vb / db }'
}
kill "$dunmir_pid"

# rsyslog from its Debian packages, unpacked here.
unpack_rsyslog || {
  echo "rsyslog: cannot download its packages; dunmir kept up with $dunmir_best/s, $dunmir_cpu us CPU per message at ${rates[0]}/s, lost $dunmir_lost% of the burst"
  viewers_summary
  exit 0
}
rport=$(free_udp_port)
cat > "$work/rsyslog.conf" <<CONF
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$rport" rcvbufSize="4m")
template(name="raw" type="string" string="%rawmsg%\n")
action(type="omfile" file="$work/rsyslog.out" template="raw")
CONF
LD_LIBRARY_PATH=$rsyslog_libdir "$rsyslog_root/usr/sbin/rsyslogd" -n -iNONE -f "$work/rsyslog.conf" -M "$rsyslog_libdir/rsyslog" 2>/dev/null &
rsyslog_pid=$!
pids+=($rsyslog_pid)
wait_for_udp_port "$rport"
rsyslog_count() { grep -c 'qvbench seq=' "$work/rsyslog.out" 2>/dev/null || true; }
rsyslog_reset() { [ -f "$work/rsyslog.out" ] && : > "$work/rsyslog.out"; return 0; }
measure rsyslog "$rsyslog_pid" "$rport" rsyslog_count rsyslog_reset
rsyslog_best=$best
rsyslog_cpu=$cpu
rsyslog_bound=$bound
flood rsyslog "$rsyslog_pid" "$rport" rsyslog_count rsyslog_reset
rsyslog_lost=$lost

echo
echo "end: $(uptime)"
echo "highest rate with less than 0.1% lost: dunmir $dunmir_best/s$dunmir_bound, rsyslog $rsyslog_best/s$rsyslog_bound"
awk -v d="$dunmir_best" -v r="$rsyslog_best" 'BEGIN { if (r > 0) printf "ratio dunmir/rsyslog: %.2f\n", d / r }'
echo "CPU per stored message at ${rates[0]}/s: dunmir $dunmir_cpu us, rsyslog $rsyslog_cpu us"
awk -v d="$dunmir_cpu" -v r="$rsyslog_cpu" 'BEGIN { if (r > 0) printf "ratio dunmir/rsyslog: %.2f\n", d / r }'
echo "lost of an unpaced burst of $burst: dunmir $dunmir_lost%, rsyslog $rsyslog_lost%"
viewers_summary
