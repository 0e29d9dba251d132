#!/usr/bin/env bash
# Lints the window's QML as built (the module's copies, beside its qmldir and
# the description of the C++ types they use) with Qt's qmllint: one warning
# fails. The views named in `pending` do not lint clean yet: the plug-in
# picker reaches its own ids from a component a Loader builds. Each leaves the
# list once it lints clean.
#
#   tests/ui/qmllint-check.sh <build>/ui
set -euo pipefail
cd "$1"
qmllint=${QMLLINT:-/usr/lib/qt6/bin/qmllint}
[[ -x "$qmllint" ]] || { echo "SKIP: $qmllint is not installed (qt6-declarative-dev-tools)"; exit 77; }

pending=(PluginPickerSheet)
files=()
for file in Corvane/Ui/*.qml; do
  name=$(basename "$file" .qml)
  [[ " ${pending[*]} " == *" $name "* ]] || files+=("$file")
done
[[ ${#files[@]} -gt 0 ]] || { echo "no QML found under $PWD/Corvane/Ui"; exit 1; }
"$qmllint" -I . "${files[@]}"
echo "ok: ${#files[@]} views lint clean"
