#!/usr/bin/env bash
# What the headless commands cost to start, beside an empty Qt Core program (the baseline,
# build/bench/kairelon-core-baseline) in the same run:
#   processor time   user + system time of one run, the median of RUNS runs, for
#                    `kairelon --version`, `kairelon --query` against `kairelon-daytimed` on
#                    loopback, and the baseline
#   libraries        how many shared objects `kairelon --version` maps
#   idle memory      resident memory (VmRSS) of `kairelon --headless` after IDLE seconds with
#                    nothing due
# Usage: bench/startup-bench.sh [BUILD_DIR] [RUNS] [IDLE_SECONDS]   (defaults: build, 30, 5)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-30}
idle=${3:-5}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export KAIRELON_REGISTRY_DIR="$work/reg" XDG_STATE_HOME="$work/state"
unset DISPLAY WAYLAND_DISPLAY

"$build/src/kairelon-daytimed" --bind 127.0.0.1 --port 0 >"$work/daytimed" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q 'serving on' "$work/daytimed" && break; sleep 0.05; done
port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/daytimed" | head -n 1)

# Median processor time of a command, in milliseconds, from the children's rusage.
cpu_ms() {
    python3 - "$runs" "$@" <<'PY'
import os, resource, statistics, subprocess, sys
runs, cmd = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    times.append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
print("%.1f" % statistics.median(times))
PY
}

base=$(cpu_ms "$build/bench/kairelon-core-baseline")
version=$(cpu_ms "$build/src/kairelon" --version)
query=$(cpu_ms "$build/src/kairelon" --query "127.0.0.1:$port")
libraries=$(LD_DEBUG=files "$build/src/kairelon" --version 2>&1 | grep -c 'calling init:' || true)
base_libraries=$(LD_DEBUG=files "$build/bench/kairelon-core-baseline" 2>&1 | grep -c 'calling init:' || true)

"$build/src/kairelon" --headless --server 127.0.0.1:1 --dry-run >"$work/headless" 2>&1 &
headless=$!
pids+=($headless)
sleep "$idle"
rss=$(awk '/VmRSS/ {print $2}' "/proc/$headless/status")

awk -v b="$base" -v v="$version" -v q="$query" -v l="$libraries" -v bl="$base_libraries" \
    -v r="$rss" -v n="$runs" 'BEGIN {
    printf "processor time, median of %d runs   baseline %6.1f ms\n", n, b
    printf "  kairelon --version                 %6.1f ms   (%.2f x baseline)\n", v, v / b
    printf "  kairelon --query (loopback)        %6.1f ms   (%.2f x baseline)\n", q, q / b
    printf "libraries initialised                baseline %d, kairelon --version %d\n", bl, l
    printf "resident memory, idle --headless     %6.1f MB\n", r / 1024 }'
