#!/usr/bin/env bash
# Side by side on one private jackd (dummy driver): the CPU time of every thread
# of Corvane running N strips of an LV2 effect, against N jalv processes (the
# reference LV2 host) running the same plug-in, measured over the same window.
#
#   bench/compare-with-jalv.sh [STRIPS] [FRAMES] [SECONDS]   (defaults 1 64 20)
#
# Environment: CORVANE (the binary, default build/app/corvane), PLUGIN (the
# effect's URI, default mda Delay). Needs jalv, jackd2 and jack_connect.
# Prints one line: corvane_ms jalv_ms ratio, CPU milliseconds over the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
strips=${1:-1}
frames=${2:-64}
seconds=${3:-20}
corvane=${CORVANE:-$root/build/app/corvane}
plugin=${PLUGIN:-http://drobilla.net/plugins/mda/Delay}
server=corvane-compare-$$
export JACK_DEFAULT_SERVER=$server
work=$(mktemp -d)
pids=()

cleanup() {
    # Clients first, then the server: a jackd that is killed instead of stopped
    # keeps its place in the machine's registry of eight servers for good.
    for pid in "${pids[@]:1}"; do kill -TERM "$pid" 2>/dev/null || true; done
    sleep 1
    for pid in "${pids[@]:1}"; do kill -KILL "$pid" 2>/dev/null || true; done
    kill -TERM "${pids[0]}" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "${pids[0]}" 2>/dev/null || break; sleep 0.1; done
    wait 2>/dev/null || true
    rm -rf "$work" /dev/shm/jack_"$server"* /dev/shm/jack-"$server"* 2>/dev/null || true
}
trap cleanup EXIT

# CPU time (ns) of every thread of the given processes, summed.
cpu_ns() {
    local total=0 pid f
    for pid in "$@"; do
        for f in /proc/"$pid"/task/*/schedstat; do
            [ -r "$f" ] && total=$((total + $(cut -d' ' -f1 "$f")))
        done
    done
    echo "$total"
}

jackd -n "$server" -d dummy -r 48000 -p "$frames" -C 2 -P 2 >"$work/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -s "$server" -t 10 >/dev/null 2>&1

args=(--headless --device jack:system --buffer "$frames" --seconds $((seconds + 30)))
for ((s = 1; s <= strips; ++s)); do args+=(--strip "$s:in=1-2,out=1-2,plugin=$plugin"); done
"$corvane" "${args[@]}" >"$work/corvane.log" 2>&1 &
corvane_pid=$!
pids+=("$corvane_pid")

jalv_pids=()
for ((s = 1; s <= strips; ++s)); do
    jalv -x -n "jalv-$s" "$plugin" < <(sleep $((seconds + 60))) >"$work/jalv-$s.log" 2>&1 &
    jalv_pids+=($!)
    pids+=($!)
done
sleep 3
# jalv leaves its ports unconnected; wire them as Corvane wires its own.
for ((s = 1; s <= strips; ++s)); do
    ins=() outs=()
    while read -r port; do
        case "$(jack_lsp -p "$port" | tail -n 1)" in
            *input*) ins+=("$port") ;;
            *output*) outs+=("$port") ;;
        esac
    done < <(jack_lsp "jalv-$s:")
    for k in "${!ins[@]}"; do jack_connect "system:capture_$((k % 2 + 1))" "${ins[$k]}"; done
    for k in "${!outs[@]}"; do jack_connect "${outs[$k]}" "system:playback_$((k % 2 + 1))"; done
done
sleep 2
jack_lsp -c >"$work/connections.txt"; [ -n "${VERBOSE:-}" ] && cat "$work/connections.txt" >&2

c0=$(cpu_ns "$corvane_pid")
j0=$(cpu_ns "${jalv_pids[@]}")
sleep "$seconds"
c1=$(cpu_ns "$corvane_pid")
j1=$(cpu_ns "${jalv_pids[@]}")
kill -0 "$corvane_pid" 2>/dev/null || { echo "corvane ended early:" >&2; cat "$work/corvane.log" >&2; exit 1; }

awk -v c=$((c1 - c0)) -v j=$((j1 - j0)) -v n="$strips" -v f="$frames" \
    'BEGIN { printf "strips=%d frames=%d corvane_ms=%.1f jalv_ms=%.1f ratio=%.3f\n", n, f, c / 1e6, j / 1e6, c / j }'
