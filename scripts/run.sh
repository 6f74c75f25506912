#!/usr/bin/env bash
# Installs the dependencies, builds ZYL and runs the default task.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release
./build/release/src/zyl-batch examples/default.txt
