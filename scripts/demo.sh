#!/usr/bin/env bash
# The main job: installs what is missing, builds the programs and shows what they do.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kairelon
./build/src/kairelon --help
