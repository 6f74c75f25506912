#!/usr/bin/env bash
# Installs the dependencies, builds ZYL from nothing and runs every test.
# Usage: scripts/test.sh [release|sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
bash scripts/install-deps.sh
bash scripts/build.sh "$kind" ${ZYL_CMAKE_ARGS:-}
ctest --test-dir "build/$kind" --output-on-failure -j"$(nproc)"
