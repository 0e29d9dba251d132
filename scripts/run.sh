#!/usr/bin/env bash
# Installs what is missing, builds, and launches Corvane. Without audio hardware
# or a JACK server it runs on the built-in virtual device.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# Only the program and what it needs: the tests and benchmarks wait for test.sh.
CORVANE_BUILD_TARGET=corvane "$root/scripts/build.sh"
exec "${CORVANE_BUILD_DIR:-$root/build}/app/corvane" "$@"
