# Helpers the service benchmarks share; sourced, not run. They expect $work, the benchmark's own
# folder.

# A UDP port on 127.0.0.1 that nothing holds now.
free_udp_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Waits until something holds UDP port $1 (at most 10 s); else shows the end of the receiver's
# output file $2, when given, and fails.
wait_for_udp_port() {
  for _ in $(seq 100); do
    python3 -c "import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try: s.bind(('127.0.0.1', $1))
except OSError: sys.exit(0)
sys.exit(1)" && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  if [ -n "${2:-}" ]; then tail -5 "$2" >&2; fi
  return 1
}

# User plus system clock ticks of process $1 and all its threads (fields 14 and 15 of its stat;
# the name in parentheses may hold blanks, so the fields are counted after it).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# Unpacks rsyslog and the Debian packages named (besides its own libraries) into
# $work/rsyslog, never installing them; sets $rsyslog_root and $rsyslog_libdir. Fails when the
# packages cannot be downloaded.
unpack_rsyslog() {
  rsyslog_root=$work/rsyslog
  rsyslog_libdir=$rsyslog_root/usr/lib/x86_64-linux-gnu
  mkdir -p "$rsyslog_root" "$work/debs"
  (cd "$work/debs" && apt-get download -q rsyslog libestr0 libfastjson4 liblognorm5 "$@" >/dev/null 2>&1) || return 1
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$rsyslog_root"; done
}
