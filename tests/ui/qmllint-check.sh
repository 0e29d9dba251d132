#!/usr/bin/env bash
# Lints the window's QML as built (the module's copies, beside its qmldir and
# the description of the C++ types they use) with Qt's qmllint: one warning
# fails.
#
#   tests/ui/qmllint-check.sh <build>/ui <source>/ui/qml
set -euo pipefail
sources=$(realpath "$2")
cd "$1"
qmllint=${QMLLINT:-/usr/lib/qt6/bin/qmllint}
[[ -x "$qmllint" ]] || { echo "SKIP: $qmllint is not installed (qt6-declarative-dev-tools)"; exit 77; }

files=()
# The views of the source tree: a copy the build left behind is no view.
for source in "$sources"/*.qml; do
  files+=("Corvane/Ui/$(basename "$source")")
done
[[ ${#files[@]} -gt 0 ]] || { echo "no QML found in $sources"; exit 1; }
"$qmllint" -I . "${files[@]}"
echo "ok: ${#files[@]} views lint clean"
