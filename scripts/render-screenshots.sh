#!/usr/bin/env bash
# Renders the controls and windows to PNG files under the offscreen platform, in the dialog's
# font, so a person can look at them (and docs/development.md can show them).
#   scripts/render-screenshots.sh [OUTPUT_FOLDER [SCENE...]]   default folder: build/screenshots
# Scenes live in tests/render/*.cpp; `build/tests/kairelon-render --list` names them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

out=${1:-build/screenshots}
shift || true

if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target kairelon-render -j "$(nproc)" >/dev/null
QT_QPA_PLATFORM=offscreen ./build/tests/kairelon-render "$out" "$@"
