#!/usr/bin/env bash
# The main job: installs what is missing, builds the programs, starts the bundled daytime
# server on a free loopback port and runs one real synchronisation against it. The run is a
# dry run with a throw-away settings folder: it never changes the clock or the user's
# settings, and shows its protocol as it goes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kairelon kairelon-daytimed

work=$(mktemp -d)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free port and names it on its first line.
exec {server_out}< <(exec ./build/src/kairelon-daytimed --bind 127.0.0.1 --port 0)
server_pid=$!
read -r -t 30 first_line <&"$server_out"
echo "$first_line"
port=${first_line##*:}

echo "\$ kairelon --sync-now --server 127.0.0.1:$port --dry-run"
status=0
KAIRELON_REGISTRY_DIR="$work/registry" XDG_CONFIG_HOME="$work/config" \
    XDG_STATE_HOME="$work/state" \
    ./build/src/kairelon --sync-now --server "127.0.0.1:$port" --dry-run || status=$?
echo "exit status: $status"
exit "$status"
