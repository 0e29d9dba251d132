#!/usr/bin/env bash
# Runs every effect plug-in that `corvane --list-plugins` prints for about a second on the
# virtual device, once in process and once isolated, and compares the two: a plug-in must
# load, run and fail the same way in its own process as inside Corvane, and no plug-in may
# take the application down in either mode. A manual check (it takes minutes), not a test.
#
#   scripts/plugin-sweep.sh [URI-FILTER]    (a grep -E pattern on the URIs; default: all)
#
# Environment: CORVANE (the binary; default build/app/corvane), SWEEP_SECONDS (1),
# SWEEP_TIMEOUT (20: a run still going then is a hang), SWEEP_JOBS (2 plug-ins at a time),
# SWEEP_KEEP=1 keeps the work folder with every report and standard error.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corvane=${CORVANE:-$root/build/app/corvane}
[ -x "$corvane" ] || { echo "no corvane at $corvane (build it, or set CORVANE)" >&2; exit 2; }
for tool in jq lv2info timeout; do
  command -v "$tool" >/dev/null || { echo "plugin-sweep needs $tool" >&2; exit 2; }
done
export SWEEP_SECONDS=${SWEEP_SECONDS:-1}
export SWEEP_TIMEOUT=${SWEEP_TIMEOUT:-20}
jobs=${SWEEP_JOBS:-2}
work=$(mktemp -d /tmp/plugin-sweep.XXXXXX)
export SWEEP_WORK=$work
# Runs use a copy of the program and its plug-in host (which it finds beside itself): a
# rebuild while the sweep goes on would otherwise fail the runs that start meanwhile.
mkdir "$work/bin"
cp "$corvane" "$(dirname "$corvane")/corvane-plugin-host" "$work/bin/" ||
  { echo "no corvane-plugin-host beside $corvane" >&2; rm -rf "$work"; exit 2; }
export SWEEP_CORVANE=$work/bin/$(basename "$corvane")
# Every process of this sweep, the plug-in hosts included, inherits this mark, so the check
# for leftover hosts finds ours and not those of anyone else on the machine.
export CORVANE_PLUGIN_SWEEP=$$.$RANDOM

ourHosts() {
  local pid
  for pid in $(pgrep -f corvane-plugin-host); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "CORVANE_PLUGIN_SWEEP=$CORVANE_PLUGIN_SWEEP" &&
      echo "$pid"
  done
}

cleanup() {
  local pids
  pids=$(ourHosts)
  [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  [ "${SWEEP_KEEP:-0}" = 1 ] && echo "reports kept in $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Mono or stereo strip: a pair when the plug-in has two or more audio inputs or outputs.
stripWidth() {
  lv2info "$1" 2>/dev/null | awk '
    /^\tPort [0-9]+:/ { flush(); audio = 0; dir = "" }
    /AudioPort$/ { audio = 1 }
    /#InputPort$/ { dir = "in" }
    /#OutputPort$/ { dir = "out" }
    function flush() { if (audio && dir == "in") ins++; if (audio && dir == "out") outs++ }
    END { flush(); print ((ins >= 2 || outs >= 2) ? 2 : 1) }'
}
export -f stripWidth

# One run: prints mode, outcome (ran | fault | failed | hang | crash | no-report), exit status,
# and the detail (the fault, the load failure, the signal), tab-separated.
runOne() {
  local uri=$1 mode=$2 width=$3 dir=$4 channels start end rc report outcome detail late
  channels=1; [ "$width" = 2 ] && channels=1-2
  report=$dir/$mode.json
  start=$(date +%s)
  timeout --kill-after=5 "$SWEEP_TIMEOUT" "$SWEEP_CORVANE" --headless "--$mode" \
    --strip "1:in=$channels,out=$channels,plugin=$uri" --seconds "$SWEEP_SECONDS" \
    --report "$report" </dev/null >"$dir/$mode.out" 2>"$dir/$mode.err"
  rc=$?
  end=$(date +%s)
  if [ $((end - start)) -ge "$SWEEP_TIMEOUT" ]; then
    outcome=hang detail="still running after ${SWEEP_TIMEOUT} s"
  elif [ "$rc" -ge 128 ] && [ ! -s "$report" ]; then
    outcome=crash detail="SIG$(kill -l $((rc - 128)) 2>/dev/null || echo $((rc - 128)))"
  elif [ ! -s "$report" ]; then
    outcome=no-report detail=$(tail -n 1 "$dir/$mode.err")
  elif [ "$(jq -r '.error // empty' "$report")" != "" ]; then
    outcome=failed detail=$(jq -r '.error' "$report")
  elif [ "$(jq -r '.strips[0].pluginFault // empty' "$report")" != "" ]; then
    outcome=fault detail=$(jq -r '.strips[0].pluginFault' "$report")
  else
    outcome=ran detail=""
    [ "$(jq -r '.strips[0].nonFinitePeriods // 0' "$report")" != 0 ] && detail="output not finite"
  fi
  # Periods the strip played dry because its host answered late: not a different outcome,
  # but a reason its output can differ from the in-process run's.
  late=0
  [ -s "$report" ] && late=$(jq -r '.strips[0].latePeriods // 0' "$report" 2>/dev/null)
  printf '%s\t%s\t%s\t%s\t%s\n' "$mode" "$outcome" "$rc" "$detail" "${late:-0}"
}
export -f runOne

sweepOne() {
  local index=$1 uri=$2 dir width
  dir=$SWEEP_WORK/$index
  mkdir -p "$dir"
  width=$(stripWidth "$uri")
  {
    printf 'uri\t%s\nwidth\t%s\n' "$uri" "$width"
    runOne "$uri" in-process "$width" "$dir"
    runOne "$uri" isolated "$width" "$dir"
  } >"$dir/result"
  printf '.' >&2
}
export -f sweepOne

"$SWEEP_CORVANE" --list-plugins 2>/dev/null | cut -f1 | grep -E -- "${1:-.}" >"$work/uris"
total=$(wc -l <"$work/uris")
echo "sweeping $total plug-ins, $jobs at a time, ${SWEEP_SECONDS} s each in process and isolated" >&2
awk '{ printf "%d\t%s\n", NR, $0 }' "$work/uris" |
  xargs -P "$jobs" -n 1 -d '\n' bash -c 'IFS=$'"'\t'"' read -r i u <<<"$1"; sweepOne "$i" "$u"' _
echo >&2

# The table: one line per plug-in whose two modes differ or that crashed or hung anywhere.
ran=(0 0) crashes=0 differences=0 late=0
printf '%-60s %-24s %-24s\n' "plug-in" "in process" "isolated"
for result in "$work"/*/result; do
  uri=$(awk -F'\t' '$1 == "uri" { print $2 }' "$result")
  inProc=$(awk -F'\t' '$1 == "in-process" { print $2 (($4 != "") ? ": " $4 : "") }' "$result")
  isol=$(awk -F'\t' '$1 == "isolated" { print $2 (($4 != "") ? ": " $4 : "") }' "$result")
  case $inProc in ran*) ran[0]=$((ran[0] + 1)) ;; esac
  case $isol in ran*) ran[1]=$((ran[1] + 1)) ;; esac
  [ "$(awk -F'\t' '$1 == "isolated" { print ($5 > 0) }' "$result")" = 1 ] && late=$((late + 1))
  crashed=0
  case "$inProc $isol" in *crash*|*hang*) crashed=1; crashes=$((crashes + 1)) ;; esac
  if [ "$inProc" != "$isol" ] || [ "$crashed" = 1 ]; then
    [ "$inProc" != "$isol" ] && differences=$((differences + 1))
    printf '%-60s %-24s %-24s\n' "$uri" "$inProc" "$isol"
  fi
done
leftover=$(ourHosts)
echo
echo "ran in process: ${ran[0]} / $total"
echo "ran isolated:   ${ran[1]} / $total"
echo "differences:    $differences"
echo "application crashed or hung: $crashes"
echo "isolated runs with late periods (played dry for a period): $late"
echo "plug-in hosts left over: $( [ -n "$leftover" ] && echo "$leftover" | wc -l || echo 0)"
[ "$crashes" = 0 ] && [ -z "$leftover" ]
