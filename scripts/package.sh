#!/usr/bin/env bash
# Builds the Debian package quorvel_<version>_<arch>.deb into build-release/ (or
# $QUORVEL_PACKAGE_BUILD_DIR) from an optimised build of the programs alone (no tests), and
# prints its path. The folder is kept, so a second run rebuilds only what changed.
# $QUORVEL_PACKAGE_BUILD=N makes version 0.1+N, for a rebuilt package that upgrades an
# installed one.
#
# The build type is RelWithDebInfo, the developers' own flags (-O2 -DNDEBUG), so that objects
# already compiled in another tree come from ccache; the package's programs are stripped and
# linked with full RELRO (-z relro -z now), which costs no compiling.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_PACKAGE_BUILD_DIR:-$top/build-release}
"$top/scripts/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TESTS=OFF \
  -DQUORVEL_BENCH=OFF "-DQUORVEL_PACKAGE_BUILD=${QUORVEL_PACKAGE_BUILD:-}" \
  "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro,-z,now" "-DCMAKE_SHARED_LINKER_FLAGS=-Wl,-z,relro,-z,now" >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
  --target dunmir Quorvel qvreg qvsc qvparse qvevent qvtapi quorvel_package_files
cd "$build"
rm -f quorvel_*.deb
cpack -G DEB >/dev/null
ls "$build"/quorvel_*.deb
