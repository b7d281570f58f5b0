#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
#
#   scripts/test.sh [--sanitize] [CMAKE_ARGS...]
#
# --sanitize builds with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (or
# $QUORVEL_BUILD_DIR) and runs the tests so that the first finding fails its test with a stack
# trace. Leaks inside the system's libraries (Qt, fontconfig) are suppressed by
# scripts/sanitizer/lsan.supp; leaks of our own code still fail.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build=${QUORVEL_BUILD_DIR:-$top/build-asan}
  timeout=900  # instrumented code runs a few times slower
  set -- -DQUORVEL_SANITIZE=ON -DQUORVEL_BENCH=OFF "$@"
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/sanitizer/lsan.supp:print_suppressions=0}
else
  build=${QUORVEL_BUILD_DIR:-$top/build}
  timeout=600
fi
export QUORVEL_BUILD_DIR=$build
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$@"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout "$timeout"
