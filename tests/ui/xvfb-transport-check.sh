#!/usr/bin/env bash
# The real window on a real X server (Xvfb): Ctrl+R starts the engine, Ctrl+R
# again stops it, Ctrl+Q asks about the unsaved strips, and Don't Save (reached
# with Shift+Tab) closes the window and the process ends with 0. Keys
# are X11 key events from xdotool, as a keyboard would send them; the engine's
# log tells what happened. Leaves a screenshot of the running window.
#
#   tests/ui/xvfb-transport-check.sh [path/to/corvane] [screenshot.png]
#
# Needs xvfb-run, xdotool and ImageMagick's import. Settings go to a scratch
# folder, never the user's.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$(realpath "${1:-$root/build/app/corvane}")
shot=$(realpath -m "${2:-${TMPDIR:-/tmp}/corvane-xvfb-running.png}")

if [[ -z "${CORVANE_XVFB_INNER:-}" ]]; then
  for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  CORVANE_XVFB_INNER=1 exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$binary" "$shot"
fi

unset QT_QPA_PLATFORM # the X server's window, not an offscreen one
mkdir -p "$(dirname "$shot")"
scratch=$(mktemp -d)
log=$scratch/corvane.log
pid=
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- log"; cat "$log"; exit 1; }

# Waits up to $2 seconds for the log to hold $1 ($3 times, default once).
wait_for_log() {
  local deadline=$((SECONDS + $2))
  while (( SECONDS < deadline )); do
    (( $(grep -c -- "$1" "$log" || true) >= ${3:-1} )) && return 0
    sleep 0.1
  done
  return 1
}

XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache QT_LOGGING_RULES="corvane.*=true" "$binary" >"$log" 2>&1 &
pid=$!

window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Corvane$' 2>/dev/null | head -n1 || true)
[[ -n "$window" ]] || fail "no window named Corvane appeared"
# Let the first frames and the device list settle before typing.
sleep 1
xdotool windowfocus --sync "$window"
# Route strip 1 from input 1 to output 1 as a user would: click its channel
# list, step down to "1", confirm. Positions are the content's design points
# (1000 x 664, under the menu bar) at the window's zoom.
eval "$(xdotool getwindowgeometry --shell "$window")"  # WIDTH, HEIGHT
scale=$(awk -v w="$WIDTH" 'BEGIN { print w / 1000 }')
menu=$(awk -v h="$HEIGHT" -v s="$scale" 'BEGIN { print h - 664 * s }')

# Gives the window's process 10 s to end, then checks its status.
expect_exit() {  # $1 = status, $2 = what ended it
  local status=0
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "the process is still there 10 s after $2"
  wait "$pid" || status=$?
  pid=
  (( status == $1 )) || fail "$2 ended the window with status $status, not $1"
}

choose_first_channel() {  # $1 = design x of the list
  local x y
  x=$(awk -v x="$1" -v s="$scale" 'BEGIN { printf "%d", x * s }')
  y=$(awk -v m="$menu" -v s="$scale" 'BEGIN { printf "%d", m + 198 * s }')
  xdotool mousemove --window "$window" "$x" "$y" click 1
  sleep 0.3
  xdotool key --window "$window" Down Return
  sleep 0.3
}
choose_first_channel 505  # In
choose_first_channel 723  # Out
xdotool key --window "$window" ctrl+r
wait_for_log "Engine started on" 20 || fail "Ctrl+R with strip 1 routed did not start the engine"
echo "ok: Ctrl+R started the engine: $(grep -m1 "Engine started on" "$log")"
sleep 1 # meters move
import -window root "$shot"
echo "ok: screenshot $shot"
xdotool key --window "$window" ctrl+r
wait_for_log "Engine stopped" 20 || fail "Ctrl+R again did not stop the engine"
echo "ok: Ctrl+R again stopped it"
xdotool key --window "$window" ctrl+r
wait_for_log "Engine started on" 20 2 || fail "Ctrl+R a third time did not start the engine"
xdotool key --window "$window" ctrl+q
sleep 1
kill -0 "$pid" 2>/dev/null || fail "Ctrl+Q with unsaved strips closed the window without asking"
echo "ok: Ctrl+Q with unsaved strips asked first"
# Save has the focus; Don't Save is two steps back.
xdotool key --window "$window" shift+Tab shift+Tab Return 2>/dev/null || true  # the window is gone before the key is up
expect_exit 0 "Don't Save"
(( $(grep -c "Engine stopped" "$log") >= 2 )) || fail "the engine was not stopped when the window closed"
echo "ok: Don't Save while running closed the window, stopped the engine, exit status 0"

# Ctrl-C in the terminal (SIGINT) closes the window the same way; the status
# says it was interrupted.
XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache "$binary" >"$log" 2>&1 &
pid=$!
timeout 20 xdotool search --sync --onlyvisible --name '^Corvane$' >/dev/null || fail "no window the second time"
sleep 0.5
kill -INT "$pid"
expect_exit 130 "SIGINT"
echo "ok: SIGINT closed the window, exit status 130"
