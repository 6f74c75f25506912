#!/usr/bin/env bash
# Installs everything the tests need, builds ZYL from nothing and runs every test.
# Usage: scripts/test.sh [release|sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
bash scripts/install-deps.sh test
# scripts/run.sh builds the programs alone: the tests, and in a release build the benchmarks,
# come back here. The caller's arguments come last and win.
wanted=(-DZYL_BUILD_TESTS=ON)
if [ "$kind" = release ]; then
    wanted+=(-DZYL_BUILD_BENCH=ON)
fi
bash scripts/build.sh "$kind" "${wanted[@]}" ${ZYL_CMAKE_ARGS:-}

# The cluster tests need the one-node Slurm cluster: started here unless one already runs (and
# then stopped again), skipped visibly by the tests where it cannot start.
export SLURM_CONF=${ZYL_SLURM_DIR:-/tmp/zyl-slurm}/slurm.conf
if ! bash scripts/local-slurm.sh status >/dev/null 2>&1; then
    if bash scripts/local-slurm.sh start; then
        trap 'bash scripts/local-slurm.sh stop || true' EXIT
    else
        echo "test: the local Slurm cluster did not start; the Slurm tests will be skipped" >&2
    fi
fi
# These runs spend minutes waiting for Slurm (its time limits count in whole minutes, the
# outage check stops the controller for two). Under the sanitizers they are left out: the same
# code runs there in the shorter Slurm tests, and the release pass runs them whole. With
# ZYL_SLURM_WAITS=later a pass leaves them out, with ZYL_SLURM_WAITS=only it runs them alone:
# CI runs them beside the sanitizer build, which has the processors they leave idle.
waits='^(e2e[.]slurm|SlurmBatch[.]ATaskPastItsTimeLimitIsATimeout|SlurmBatch[.]AStepEndedByItsTimeLimitSaysSo)$'
skip=()
if [ "${ZYL_SLURM_WAITS:-}" = only ]; then
    skip=(-R "$waits")
elif [ "$kind" = sanitize ]; then
    # The seeded examples and the runs killed at random moments repeat, many times over, code
    # that the other end-to-end runs take the sanitizers through once: the release pass has them.
    skip=(-E "$waits|^e2e[.](golden|resume)\$")
elif [ "${ZYL_SLURM_WAITS:-}" = later ]; then
    skip=(-E "$waits")
fi
ctest --test-dir "build/$kind" --output-on-failure -j"$(nproc)" "${skip[@]}"
