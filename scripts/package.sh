#!/usr/bin/env bash
# Builds the Debian package zyl_<version>_amd64.deb from the release build (build/release,
# configured and built first when it is not there yet) and writes it to build/package.
# Usage: scripts/package.sh [cmake args for a first configure...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/release/CMakeCache.txt ]; then
    bash scripts/build.sh release "$@"
else
    cmake --build build/release -j"$(nproc)"
fi
# The desktop entry's icon in its fixed sizes needs rsvg-convert at configure time
# (scripts/install-deps.sh test).
if ! ls build/release/icons/*/zyl.png >/dev/null 2>&1; then
    echo "package: the icon's PNG sizes are missing; install librsvg2-bin and configure again" >&2
    exit 1
fi
mkdir -p build/package
rm -f build/package/zyl_*.deb
(cd build/release && cpack -G DEB -B "$PWD/../package" >/dev/null)
rm -rf build/package/_CPack_Packages
ls build/package/zyl_*.deb
