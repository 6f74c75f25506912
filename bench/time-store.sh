#!/usr/bin/env bash
# Times whole zyl-batch runs of the 1000 x 1000 default task without and with --store, in
# pairs (one of each, RUNS times), so that the machine's drift weighs on both alike. The
# store is made afresh in FOLDER for every run: a memory file system shows the store's own
# cost, a disk adds the syncs that keep the file sound through a power cut.
# Usage: bench/time-store.sh [BUILD_DIR] [RUNS] [FOLDER] [TASK]
#        (defaults: build/release 21 /tmp bench/tasks/default-1000x1000.txt)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-21}
folder=${3:-/tmp}
task=${4:-bench/tasks/default-1000x1000.txt}
batch=$build/src/zyl-batch
store=$(mktemp -d "$folder/zyl-store-bench.XXXXXX")
trap 'rm -rf "$store"' EXIT

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

plain=()
stored=()
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 0; i < runs; i++)); do
    rm -f "$store"/run.zyl*
    t0=$(now)
    "$batch" --quiet --seed 1 "$task" > /dev/null
    t1=$(now)
    "$batch" --quiet --seed 1 --store "$store/run.zyl" "$task" > /dev/null
    t2=$(now)
    plain+=("$(elapsed "$t0" "$t1")")
    stored+=("$(elapsed "$t1" "$t2")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
p=$(median "${plain[@]}")
s=$(median "${stored[@]}")
printf 'without --store: median %.3f s\nwith --store in %s: median %.3f s\nratio %.3f\n' \
    "$p" "$folder" "$s" "$(echo "$s / $p" | bc -l)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
