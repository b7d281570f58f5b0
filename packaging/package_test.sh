#!/usr/bin/env bash
# Checks the Debian package: its files and control fields, the unit (systemd-analyze verify and
# its exposure), the desktop entry, the manual pages and lintian's verdict.
#
#   package_test.sh SOURCE_DIR BUILD_DIR
#
# With QUORVEL_PACKAGE_TEST=1 it checks the real package, made by scripts/package.sh in
# build-release/. Otherwise CPack packs the programs of BUILD_DIR into a temporary folder (about
# half a minute; no second build). A check whose tool is missing is skipped and said; when
# nothing can be packed the test exits 77, which CTest reports as skipped.
set -uo pipefail
top=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0

ok() { passed=$((passed + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAILED: $*"; }
skip() { skipped=$((skipped + 1)); echo "skipped: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

for tool in dpkg-deb dpkg-shlibdeps cpack; do
  have "$tool" || { echo "skipped: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
done

if [ "${QUORVEL_PACKAGE_TEST:-}" = 1 ]; then
  deb=$("$top/scripts/package.sh" | tail -n 1) || { echo "FAILED: scripts/package.sh"; exit 1; }
else
  for program in service/dunmir ui/Quorvel tools/qvreg/qvreg tools/qvsc/qvsc tools/qvparse/qvparse \
      tools/qvevent/qvevent lib/libqvtapi.so packaging/man/dunmir.8.gz packaging/icons/16x16/quorvel.png; do
    [ -e "$build/$program" ] || { echo "skipped: $build/$program is not built"; exit 77; }
  done
  (cd "$build" && cpack -G DEB -B "$work/pack" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; echo "FAILED: cpack"; exit 1; }
  deb=$(ls "$work"/pack/quorvel_*.deb)
fi
echo "package: $deb"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

# Files.
expected=(usr/bin/dunmir usr/bin/Quorvel usr/bin/qvreg usr/bin/qvsc usr/bin/qvparse usr/bin/qvevent
  usr/lib/quorvel/libqvtapi.so usr/lib/systemd/system/quorvel.service usr/share/applications/quorvel.desktop
  usr/share/icons/hicolor/scalable/apps/quorvel.svg usr/share/doc/quorvel/README.md
  usr/share/doc/quorvel/copyright usr/share/doc/quorvel/changelog.gz)
for size in 16 22 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/quorvel.png"); done
pages=(man8/dunmir.8 man8/qvsc.8 man1/Quorvel.1 man1/qvreg.1 man1/qvparse.1 man1/qvevent.1)
for page in "${pages[@]}"; do expected+=("usr/share/man/$page.gz"); done
missing=()
for file in "${expected[@]}"; do [ -f "$root/$file" ] || missing+=("$file"); done
if [ ${#missing[@]} -eq 0 ]; then ok "the package holds all ${#expected[@]} files"; else bad "missing: ${missing[*]}"; fi
for program in dunmir Quorvel qvreg qvsc qvparse qvevent; do
  [ -x "$root/usr/bin/$program" ] || bad "/usr/bin/$program is not executable"
done
if file "$root/usr/bin/dunmir" | grep -q 'not stripped'; then bad "dunmir is not stripped"; else ok "programs are stripped"; fi

# Control fields: library needs found by dpkg-shlibdeps, the recommendations, the scripts.
control=$work/control/control
if grep -q '^Depends:.*libqt6core6' "$control" && grep -q '^Depends:.*libc6' "$control"; then
  ok "Depends comes from the shared-library needs"
else
  bad "Depends lacks the libraries: $(grep '^Depends:' "$control")"
fi
if grep -q '^Recommends:.*libsqliteodbc' "$control" && grep -q '^Recommends:.*snmp' "$control"; then
  ok "Recommends names the SQLite ODBC driver and snmp"
else
  bad "Recommends: $(grep '^Recommends:' "$control")"
fi
scripts=0
for script in postinst prerm postrm; do
  if [ -x "$work/control/$script" ] && sh -n "$work/control/$script"; then scripts=$((scripts + 1)); fi
done
if [ "$scripts" -eq 3 ]; then ok "postinst, prerm and postrm are there"; else bad "maintainer scripts"; fi

# The unit, checked in a root of its own that has the package's files and the host's targets.
unit=usr/lib/systemd/system/quorvel.service
if have systemd-analyze && [ -d /lib/systemd/system ]; then
  mkdir -p "$root/lib/systemd/system"
  cp /lib/systemd/system/*.target /lib/systemd/system/*.slice "$root/lib/systemd/system/" 2>/dev/null
  if out=$(systemd-analyze verify --man=no --root="$root" "/$unit" 2>&1) && [ -z "$out" ]; then
    ok "systemd-analyze verify passes"
  else
    bad "systemd-analyze verify: $out"
  fi
  exposure=$(systemd-analyze security --offline=true --threshold=40 "$root/$unit" 2>&1 | grep 'Overall exposure')
  if [ "${PIPESTATUS[0]}" -eq 0 ] && [ -n "$exposure" ]; then ok "${exposure#→ }"; else bad "exposure above 4.0: $exposure"; fi
else
  skip "systemd-analyze is missing"
fi
if grep -qx 'User=quorvel' "$root/$unit" &&
    grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE CAP_NET_RAW' "$root/$unit" &&
    grep -qx 'CapabilityBoundingSet=CAP_NET_BIND_SERVICE CAP_NET_RAW' "$root/$unit"; then
  ok "the unit runs dunmir as quorvel with the two capabilities only"
else
  bad "the unit's user or capabilities"
fi

if have desktop-file-validate; then
  if out=$(desktop-file-validate "$root/usr/share/applications/quorvel.desktop" 2>&1); then
    ok "desktop-file-validate passes"
  else
    bad "desktop-file-validate: $out"
  fi
else
  skip "desktop-file-validate is missing"
fi

if have man && have groff; then
  for page in "${pages[@]}"; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/$page.gz" 2>&1 >/dev/null)
    if [ -z "$out" ]; then ok "man -l $page renders without warnings"; else bad "man -l $page: $out"; fi
  done
else
  skip "man or groff is missing"
fi

if have lintian; then
  lintian "$deb" >"$work/lintian.log" 2>&1
  if grep -q '^E:' "$work/lintian.log"; then
    bad "lintian reports errors:"; grep '^E:' "$work/lintian.log"
  else
    ok "lintian reports no error ($(grep -c '^W:' "$work/lintian.log") warnings)"
  fi
else
  skip "lintian is missing"
fi

echo "package test: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
