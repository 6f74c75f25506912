#!/usr/bin/env bash
# Installs what building and running ZYL needs, builds the three programs and runs the default
# task: in the desktop program when a display is available, otherwise with the batch
# optimiser. The tests and the benchmarks are left out; scripts/test.sh installs and builds
# them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
bash scripts/build.sh release -DZYL_BUILD_TESTS=OFF -DZYL_BUILD_BENCH=OFF
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/release/src/zyl ]; then
    exec ./build/release/src/zyl examples/default.txt
fi
exec ./build/release/src/zyl-batch examples/default.txt
