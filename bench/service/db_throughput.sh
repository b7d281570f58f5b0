#!/usr/bin/env bash
# Rows stored per second into PostgreSQL by "Save to Database" (through unixODBC and the
# PostgreSQL ODBC driver, odbc-postgresql), against rsyslog's ompgsql into the same server, in
# the same run.
#
#   bench/service/db_throughput.sh [RATE] [SECONDS]      (default 100,000/s for 12 s)
#
# The script makes a PostgreSQL cluster of its own in its folder (run as the "postgres" account
# when started as root), listening only on a Unix socket there, with the server's defaults
# (every commit is flushed to disk). Each receiver in turn gets an evenly paced load from
# qvloadgen (150-byte RFC 3164 messages on 127.0.0.1 only) and stores every message as one row
# of its own table, with the same five columns (host, facility, severity, time received,
# message): dunmir through one "Save to Database" rule, rsyslog through ompgsql with a template
# of the same statement and an action queue that hands it batches of up to 1,000 messages (as
# dunmir's action worker does; ompgsql wraps each batch in one transaction). The load is meant
# to exceed what either stores, so that its queue stays full: the rate is the rows counted in
# the table from 2 s after the start of the load to 2 s before its end, divided by that time. A
# receiver that keeps up shows the offered rate. rsyslog is unpacked from Debian's packages into
# the benchmark's folder, never installed. Needs a build (scripts/build.sh), the PostgreSQL
# server (postgresql) and its ODBC driver (odbc-postgresql). The machine's load is printed at
# start and end: figures from a busy machine are only comparable within one run.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}
rate=${1:-100000}
seconds=${2:-12}
[ "$seconds" -ge 6 ] && [ "$seconds" -le 60 ] || { echo "db_throughput: SECONDS must be 6 to 60" >&2; exit 1; }
echo "start: $(uptime)"

pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | tail -1)
[ -x "$pgbin/initdb" ] || { echo "db_throughput: the PostgreSQL server is not installed (apt-get install postgresql)" >&2; exit 1; }
grep -qx '\[PostgreSQL Unicode\]' /etc/odbcinst.ini 2>/dev/null ||
  { echo "db_throughput: the PostgreSQL ODBC driver is not registered (apt-get install odbc-postgresql)" >&2; exit 1; }

work=$(mktemp -d /tmp/qvdbbench.XXXXXX)
pids=()
pg_started=0
as_postgres=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ $pg_started = 1 ]; then "${as_postgres[@]}" "$pgbin/pg_ctl" -D "$work/pg" -m immediate -w stop >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
. "$top/bench/service/common.sh"

# PostgreSQL, its socket in a folder that the service's account (dunmir drops to it when
# started as root) and the server's account can both reach.
mkdir -p "$work/pg" "$work/sock"
chmod 755 "$work"
chmod 1777 "$work/sock"
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$work/pg"
  as_postgres=(runuser -u postgres --)
fi
pgport=54331
"${as_postgres[@]}" "$pgbin/initdb" -D "$work/pg" -U postgres --auth=trust --no-sync -E UTF8 >/dev/null
"${as_postgres[@]}" "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg/log" -w -t 60 \
  -o "-p $pgport -k $work/sock -c listen_addresses=''" start >/dev/null
pg_started=1
sql() { "$pgbin/psql" -h "$work/sock" -p "$pgport" -U postgres -At -c "$1" postgres; }
for table in log_dunmir log_rsyslog; do
  sql "CREATE TABLE $table(n BIGSERIAL, host TEXT, facility TEXT, severity TEXT, received TEXT, msg TEXT)" >/dev/null
done

now() { date +%s.%N; }

ticks=$(getconf CLK_TCK)
# The server process that serves the receiver's connection: the one that inserts into TABLE.
# The query that a prepared statement shows, or the BEGIN and COMMIT around it, say little: the
# connection is told by the table that the receiver's rows go to, looked up in its locks.
backend_of() {
  sql "SELECT DISTINCT l.pid FROM pg_locks l JOIN pg_class c ON c.oid = l.relation
       WHERE c.relname = '$1' AND l.pid <> pg_backend_pid() LIMIT 1"
}
# Microseconds of CPU per row from a tick difference and a count.
per_row() { awk -v t="$1" -v n="$2" -v hz="$ticks" 'BEGIN { if (n > 0) printf "%.1f", t * 1e6 / hz / n; else print "-" }'; }

# measure NAME PID PORT TABLE: loads the receiver PID on PORT and sets $rows_per_second from
# TABLE, with the CPU per row of the receiver and of its server process.
measure() {
  local name=$1 pid=$2 port=$3 table=$4 loader t0 t1 c0 c1 sent backend r0 r1 b0 b1
  "$build/bench/service/qvloadgen" --port "$port" --rate "$rate" --seconds "$seconds" --first "$next" >"$work/load.out" &
  loader=$!
  sleep 2
  backend=$(backend_of "$table")
  c0=$(sql "SELECT count(*) FROM $table")
  t0=$(now)
  r0=$(cpu_ticks "$pid")
  # No lock held at that moment leaves the server process unknown: its figure is then "-".
  b0=$([ -n "$backend" ] && cpu_ticks "$backend" 2>/dev/null || echo 0)
  sleep $((seconds - 4))
  c1=$(sql "SELECT count(*) FROM $table")
  t1=$(now)
  r1=$(cpu_ticks "$pid")
  b1=$([ -n "$backend" ] && cpu_ticks "$backend" 2>/dev/null || echo 0)
  wait "$loader"
  sent=$(awk '{print $2}' "$work/load.out")
  next=$((next + sent))
  rows_per_second=$(awk -v a="$c0" -v b="$c1" -v s="$t0" -v e="$t1" 'BEGIN { printf "%d", (b - a) / (e - s) }')
  printf '%-8s %7d/s offered: %7d rows/s stored while loaded, CPU per row: %6s us %s, %6s us server\n' \
    "$name" "$rate" "$rows_per_second" "$(per_row $((r1 - r0)) $((c1 - c0)))" "$name" \
    "$(if [ -n "$backend" ]; then per_row $((b1 - b0)) $((c1 - c0)); else echo -; fi)"
  sleep 3  # the receiver's queue drains before the next load
}
next=1

columns="host, facility, severity, received, msg"

# dunmir: one rule stores every benchmark message; history and relay stay on as usual.
export QUORVEL_HOME=$work/home
# As root without the service's account, the rule runs as root: this is a benchmark's own folder.
if [ "$(id -u)" -eq 0 ] && ! id quorvel >/dev/null 2>&1; then export QUORVEL_RULES_AS_ROOT=1; fi
qvreg() { "$build/tools/qvreg/qvreg" "$@"; }
settings='Software\Fendrake\Quorvel\Settings'
rule='Software\Fendrake\Quorvel\Rules\rule0'
dport=$(free_udp_port)
qvreg set "$settings" udpport dword "$dport"
qvreg set "$settings" historysize dword 2000000
qvreg set "$settings" db sz "Driver=PostgreSQL Unicode;Servername=$work/sock;Port=$pgport;Database=postgres;Username=postgres;"
qvreg set "$settings" rulescount dword 1
qvreg set "$rule" Name sz "To the database"
qvreg set "$rule" Action dword 9
qvreg set "$rule" Message sz "qvbench"
qvreg set "$rule" ActionValue sz \
  "INSERT INTO log_dunmir($columns) VALUES ('\$hostname', '\$facility', '\$severity', '\$recvstdtime', '\$msg')"
"$build/service/dunmir" debug >"$work/dunmir.out" 2>&1 &
dunmir_pid=$!
pids+=($dunmir_pid)
wait_for_udp_port "$dport" "$work/dunmir.out"

# rsyslog from its Debian packages, unpacked here.
rsyslog_pid=
if unpack_rsyslog rsyslog-pgsql; then
  rport=$(free_udp_port)
  cat >"$work/rsyslog.conf" <<CONF
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$rport" rcvbufSize="4m")
module(load="ompgsql")
template(name="row" type="string" option.stdsql="on"
  string="INSERT INTO log_rsyslog($columns) VALUES ('%hostname%', '%syslogfacility-text%', '%syslogseverity-text%', '%timegenerated:::date-pgsql%', '%syslogtag%%msg%')")
if (\$rawmsg contains "qvbench") then {
  action(type="ompgsql" conninfo="postgresql:///postgres?host=$work/sock&port=$pgport&user=postgres" template="row"
         queue.type="linkedList" queue.size="10000" queue.dequeueBatchSize="1000")
}
CONF
  LD_LIBRARY_PATH=$rsyslog_libdir "$rsyslog_root/usr/sbin/rsyslogd" -n -iNONE -f "$work/rsyslog.conf" -M "$rsyslog_libdir/rsyslog" \
    >"$work/rsyslog.out" 2>&1 &
  rsyslog_pid=$!
  pids+=($rsyslog_pid)
  wait_for_udp_port "$rport" "$work/rsyslog.out"
else
  echo "rsyslog: cannot download its packages; dunmir is measured alone"
fi

# The receivers take turns, ROUNDS times (default 2), so that a busy moment of the machine does
# not favour one of them; each one's best round counts.
dunmir_rate=0
rsyslog_rate=0
for _ in $(seq "${ROUNDS:-2}"); do
  measure dunmir "$dunmir_pid" "$dport" log_dunmir
  [ "$rows_per_second" -gt "$dunmir_rate" ] && dunmir_rate=$rows_per_second
  if [ -n "$rsyslog_pid" ]; then
    measure rsyslog "$rsyslog_pid" "$rport" log_rsyslog
    [ "$rows_per_second" -gt "$rsyslog_rate" ] && rsyslog_rate=$rows_per_second
  fi
done
if grep -q "CDBException" "$QUORVEL_HOME"/qvhist?.txt; then
  echo "dunmir reported database errors:" >&2
  grep -h -m 3 "CDBException" "$QUORVEL_HOME"/qvhist?.txt >&2
fi

echo
echo "end: $(uptime)"
awk -v d="$dunmir_rate" -v r="$rsyslog_rate" \
  'BEGIN { printf "db rows/s: dunmir %d, rsyslog %d, ratio %s\n", d, r, (r > 0 ? sprintf("%.2f", d / r) : "-") }'
