#!/usr/bin/env bash
# Installs the dependencies, builds ZYL and runs the default task: in the desktop program when
# a display is available, otherwise with the batch optimiser.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/release/src/zyl ]; then
    exec ./build/release/src/zyl examples/default.txt
fi
exec ./build/release/src/zyl-batch examples/default.txt
