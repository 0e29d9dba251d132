#!/usr/bin/env bash
# Side by side on one private jackd (dummy driver): the CPU time of every thread
# of Corvane running N strips of an LV2 effect, against N jalv processes (the
# reference LV2 host) running the same plug-in, measured over the same window.
#
#   bench/compare-with-jalv.sh [STRIPS] [FRAMES] [SECONDS]   (defaults 1 64 20)
#
# JACK charges the client that comes first in its graph more per period than
# the ones after it (it wakes the others), so there are two rounds on the same
# server: Corvane joins first in one and last in the other, and the figures are
# the sums of both. Then each side runs alone on the server for the same time,
# where neither pays for the other.
#
# Environment: CORVANE (the binary, default build/app/corvane), PLUGIN (the
# effect's URI, default mda Delay). Needs jalv, jackd2 and jack_connect.
# Prints each round and the total: corvane_ms jalv_ms ratio, CPU milliseconds.
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
jackd_pid=
clients=()

stop_clients() {
    for pid in "${clients[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    sleep 1
    for pid in "${clients[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${clients[@]}"; do wait "$pid" 2>/dev/null || true; done
    clients=()
}

cleanup() {
    stop_clients
    # A jackd that is killed instead of stopped keeps its place in the
    # machine's registry of eight servers for good.
    if [ -n "$jackd_pid" ]; then
        kill -TERM "$jackd_pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$jackd_pid" 2>/dev/null || break; sleep 0.1; done
    fi
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

start_corvane() {
    local args=(--headless --device jack:system --buffer "$frames" --seconds $((seconds + 60)))
    for ((s = 1; s <= strips; ++s)); do args+=(--strip "$s:in=1-2,out=1-2,plugin=$plugin"); done
    "$corvane" "${args[@]}" >"$work/corvane.log" 2>&1 &
    corvane_pid=$!
    clients+=("$corvane_pid")
    # Running once its ports are wired.
    for _ in $(seq 200); do
        jack_lsp -c 2>/dev/null | grep -q '^corvane[^ ]*:out_1' && break
        sleep 0.1
    done
}

start_jalvs() {
    jalv_pids=()
    for ((s = 1; s <= strips; ++s)); do
        jalv -x -n "jalv-$s" "$plugin" < <(sleep $((seconds + 90))) >"$work/jalv-$s.log" 2>&1 &
        jalv_pids+=($!)
        clients+=($!)
    done
    sleep 2
    # jalv leaves its ports unconnected; wire them as Corvane wires its own.
    for ((s = 1; s <= strips; ++s)); do
        local ins=() outs=() port
        while read -r port; do
            case "$(jack_lsp -p "$port" | tail -n 1)" in
                *input*) ins+=("$port") ;;
                *output*) outs+=("$port") ;;
            esac
        done < <(jack_lsp "jalv-$s:")
        for k in "${!ins[@]}"; do jack_connect "system:capture_$((k % 2 + 1))" "${ins[$k]}"; done
        for k in "${!outs[@]}"; do jack_connect "${outs[$k]}" "system:playback_$((k % 2 + 1))"; done
    done
}

# The CPU nanoseconds the given processes use over `seconds`.
measure() {
    local before after
    before=$(cpu_ns "$@")
    sleep "$seconds"
    after=$(cpu_ns "$@")
    echo $((after - before))
}

# One round side by side; leaves the CPU nanoseconds in round_corvane and round_jalv.
round() {
    if [ "$1" = corvane-first ]; then
        start_corvane
        start_jalvs
    else
        start_jalvs
        start_corvane
    fi
    sleep 2
    [ -n "${VERBOSE:-}" ] && jack_lsp -c >&2
    local c0 j0 c1 j1
    c0=$(cpu_ns "$corvane_pid")
    j0=$(cpu_ns "${jalv_pids[@]}")
    sleep "$seconds"
    c1=$(cpu_ns "$corvane_pid")
    j1=$(cpu_ns "${jalv_pids[@]}")
    kill -0 "$corvane_pid" 2>/dev/null || { echo "corvane ended early:" >&2; cat "$work/corvane.log" >&2; exit 1; }
    stop_clients
    round_corvane=$((c1 - c0))
    round_jalv=$((j1 - j0))
}

jackd -n "$server" -d dummy -r 48000 -p "$frames" -C 2 -P 2 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
jack_wait -w -s "$server" -t 10 >/dev/null 2>&1

round corvane-first
c_first=$round_corvane j_first=$round_jalv
round corvane-last
c_last=$round_corvane j_last=$round_jalv
start_corvane
sleep 2
c_alone=$(measure "$corvane_pid")
stop_clients
start_jalvs
sleep 2
j_alone=$(measure "${jalv_pids[@]}")
stop_clients

awk -v c1="$c_first" -v j1="$j_first" -v c2="$c_last" -v j2="$j_last" -v ca="$c_alone" -v ja="$j_alone" \
    -v n="$strips" -v f="$frames" 'BEGIN {
    printf "strips=%d frames=%d corvane first: %.1f / %.1f ms (%.3f); corvane last: %.1f / %.1f ms (%.3f)\n",
           n, f, c1 / 1e6, j1 / 1e6, c1 / j1, c2 / 1e6, j2 / 1e6, c2 / j2
    printf "strips=%d frames=%d alone: %.1f / %.1f ms (%.3f)\n", n, f, ca / 1e6, ja / 1e6, ca / ja
    printf "strips=%d frames=%d corvane_ms=%.1f jalv_ms=%.1f ratio=%.3f\n", n, f, (c1 + c2) / 1e6, (j1 + j2) / 1e6,
           (c1 + c2) / (j1 + j2)
}'
