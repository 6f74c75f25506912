#!/usr/bin/env bash
# Configures and builds ZYL in build/<kind>. Usage: scripts/build.sh [release|sanitize] [cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
shift || true
case "$kind" in
    release)  dir=build/release; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    sanitize) dir=build/sanitize; flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" -DZYL_SANITIZE=ON -DZYL_BUILD_BENCH=OFF) ;;
    *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
# A new build folder is made for Ninja where it is installed (it keeps both processors busier
# than make across the targets); a folder already made keeps its generator.
if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    flags+=(-G Ninja)
fi
cmake -S . -B "$dir" "${flags[@]}" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
