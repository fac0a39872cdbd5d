#!/usr/bin/env bash
# Idle cost of `kairelon --headless`: processor time and resident memory over a time span
# (default 60 s) while the scheduler runs with nothing due, measured side by side with an idle
# `kairelon-daytimed` as the baseline of a plain Qt event loop with nothing to do.
# Usage: bench/headless_idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build}
span=${2:-60}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

KAIRELON_REGISTRY_DIR="$work/reg" XDG_STATE_HOME="$work/state" \
    "$build/src/kairelon" --headless --server 127.0.0.1:1 --dry-run >"$work/out" 2>&1 &
pids+=($!)
"$build/src/kairelon-daytimed" --bind 127.0.0.1 --port 0 >"$work/daytimed" 2>&1 &
pids+=($!)
sleep 2 # start-up is not idle time

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
declare -A start
for pid in "${pids[@]}"; do start[$pid]=$(cpu_ns "$pid"); done
sleep "$span"
names=("kairelon --headless" "kairelon-daytimed (baseline)")
for i in "${!pids[@]}"; do
    pid=${pids[$i]}
    used=$(( $(cpu_ns "$pid") - ${start[$pid]} ))
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    awk -v n="${names[$i]}" -v s="$span" -v u="$used" -v r="$rss" 'BEGIN {
        printf "%-30s processor time over %s s: %6.2f ms   resident memory: %6.1f MB\n",
            n, s, u / 1e6, r / 1024 }'
done
