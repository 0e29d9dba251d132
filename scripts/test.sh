#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The JACK tests start
# and stop private jackd servers of their own; a user's server is never touched.
# With --sanitize the tests are built and run under address + undefined sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${1:-}" = "--sanitize" ]; then
  export CORVANE_BUILD_DIR=${CORVANE_BUILD_DIR:-$root/build-sanitize}
  export CORVANE_BUILD_TYPE=Debug
  # Line tables are all the sanitizers' reports need, and build much faster
  # than full debug info. The views' QML is loaded as written: compiled to C++
  # it is Qt's generated code, not ours, and costs minutes to build.
  "$root/scripts/build.sh" -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DCORVANE_QML_AHEAD_OF_TIME=OFF
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  # What the libraries we load keep until exit is listed there, with why.
  export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  "$root/scripts/build.sh"
fi
cd "${CORVANE_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j2 --timeout 600
