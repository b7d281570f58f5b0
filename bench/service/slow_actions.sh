#!/usr/bin/env bash
# How fast a burst reaches dunmir's history when every message fires a mail to an SMTP server
# that answers each command after 100 ms, against the same burst without the rule, in one run.
#
#   bench/service/slow_actions.sh [COUNT]      (messages per burst; default 50,000)
#
# The two cases alternate for ROUNDS rounds (default 2), so that a warm-up or a busy moment of
# the machine does not favour one of them; the ratio compares the sums of their times.
# Runs itself in a network namespace of its own (needs root), where the slow server
# (rules/mail/smtp_test_server.py slow) can have the SMTP port 25 and nothing leaves the
# machine. For each case a fresh data root and dunmir in the foreground; qvloadgen sends the
# burst unpaced to 127.0.0.1; the time is from the start of the burst until the history holds
# its last line (counted every 20 ms). Last, the time the service takes to stop after SIGTERM
# (with the rule, the mails still waiting get at most 5 s) and the count it says it skipped.
# Needs a build (scripts/build.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
count=${1:-50000}
round=0

if [ "${QV_BENCH_NETNS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "slow_actions: needs root for a network namespace of its own" >&2; exit 1; }
  exec unshare --net env QV_BENCH_NETNS=1 "$0" "$@"
fi
ip link set lo up
echo "start: $(uptime)"

work=$(mktemp -d /tmp/qvslow.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/smtp"
QV_SMTP_LIFETIME=600 /usr/bin/python3 "$top/rules/mail/smtp_test_server.py" slow "$work/smtp" 25 &
pids+=($!)
for _ in $(seq 100); do [ -f "$work/smtp/port" ] && break; sleep 0.1; done
[ -f "$work/smtp/port" ] || { echo "the slow SMTP server did not start" >&2; exit 1; }

now() { date +%s.%N; }
history_count() { cat "$QUORVEL_HOME"/qvhist?.txt 2>/dev/null | grep -c 'qvbench seq=' || true; }

# run NAME RULES: prints one line and sets $took (seconds until the history was complete).
run() {
  local name=$1 rules=$2 port=5140
  export QUORVEL_HOME=$work/$name.$round
  mkdir -m 700 "$QUORVEL_HOME"
  local settings='Software\Fendrake\Quorvel\Settings' qvreg="$build/tools/qvreg/qvreg"
  "$qvreg" set "$settings" udpport dword $port
  "$qvreg" set "$settings" historysize dword 2000000
  "$qvreg" set "$settings" SNMPTrapMonitor dword 0
  "$qvreg" set "$settings" EventLog dword 0
  "$qvreg" set "$settings" mailserver sz 127.0.0.1
  "$qvreg" set "$settings" mailfrom sz quorvel
  "$qvreg" set "$settings" maildomain sz example.org
  "$qvreg" set "$settings" rulescount dword "$rules"
  if [ "$rules" -gt 0 ]; then
    local key='Software\Fendrake\Quorvel\Rules\rule0'
    "$qvreg" set "$key" Name sz page
    "$qvreg" set "$key" Message sz qvbench
    "$qvreg" set "$key" Action dword 5
    "$qvreg" set "$key" ActionValue sz ops@example.org
  fi
  QUORVEL_RULES_AS_ROOT=1 "$build/service/dunmir" debug 2>/dev/null &
  local pid=$!
  pids+=($pid)
  sleep 1
  local start last=-1 got done_at
  start=$(now)
  "$build/bench/service/qvloadgen" --port $port --burst "$count" >/dev/null
  done_at=$(now)
  # Until the count reaches the burst, or stops growing for two seconds.
  local still=0
  while :; do
    got=$(history_count)
    if [ "$got" != "$last" ]; then done_at=$(now); still=0; else still=$((still + 1)); fi
    last=$got
    [ "$got" -ge "$count" ] && break
    [ $still -ge 100 ] && break
    sleep 0.02
  done
  took=$(awk -v a="$start" -v b="$done_at" 'BEGIN { printf "%.3f", b - a }')
  local stop_start stop_took skipped
  stop_start=$(now)
  kill -TERM "$pid"
  wait "$pid" || true
  stop_took=$(awk -v a="$stop_start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }')
  skipped=$(grep -ho 'Rules: [0-9]* actions[^"]*skipped' "$QUORVEL_HOME"/qvhist?.txt | grep -o '[0-9]*' | head -1 || true)
  printf "%-12s %6s of %s messages in the history after %6s s (%s/s); stop took %s s, %s actions skipped\n" \
    "$name" "$got" "$count" "$took" "$(awk -v n="$got" -v t="$took" 'BEGIN { if (t > 0) printf "%.0f", n / t }')" \
    "$stop_took" "${skipped:-0}"
}

plain=0
mail=0
for round in $(seq "${ROUNDS:-2}"); do
  run plain 0
  plain=$(awk -v a="$plain" -v b="$took" 'BEGIN { print a + b }')
  run mail-rule 1
  mail=$(awk -v a="$mail" -v b="$took" 'BEGIN { print a + b }')
done
echo "mails the server took: $(grep -c '^QUIT' "$work/smtp/lines" 2>/dev/null || echo 0)"
awk -v m="$mail" -v p="$plain" 'BEGIN { if (p > 0) printf "ratio time with the mail rule / without: %.2f\n", m / p }'
echo "end: $(uptime)"
