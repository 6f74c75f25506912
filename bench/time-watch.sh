#!/usr/bin/env bash
# Times whole zyl-batch runs of the 1000 x 1000 default task with --store, unwatched and
# watched, in pairs (one of each, RUNS times), so that the machine's drift weighs on both
# alike. The watcher is `zyl-batch --follow`, the desktop program's reader without the
# windows, started as soon as the store holds its first commit and looking at it four times a
# second until the run ends. The writer's wall time and its processor time (user and system,
# which the machine's other work hardly changes) are taken by /usr/bin/time.
# Usage: bench/time-watch.sh [BUILD_DIR] [RUNS] [FOLDER] [TASK]
#        (defaults: build/release 21 /tmp bench/tasks/default-1000x1000.txt)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-21}
folder=${3:-/tmp}
task=$(realpath "${4:-bench/tasks/default-1000x1000.txt}")
batch=$(realpath "$build/src/zyl-batch")
store=$(mktemp -d "$folder/zyl-watch-bench.XXXXXX")
trap 'rm -rf "$store"' EXIT

timed() { /usr/bin/time -f '%e %U %S' -o "$store/time.txt" "$batch" --quiet --seed 1 \
              --store "$store/run.zyl" "$task" > /dev/null; }
wall() { cut -d' ' -f1 "$store/time.txt"; }
cpu() { awk '{ print $2 + $3 }' "$store/time.txt"; }

plain=() plain_cpu=() watched=() watched_cpu=()
lines=0
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 0; i < runs; i++)); do
    rm -f "$store"/run.zyl*
    timed
    plain+=("$(wall)") plain_cpu+=("$(cpu)")

    rm -f "$store"/run.zyl*
    timed &
    writer=$!
    # The store holds its first commit once its WAL is beside it.
    while [ ! -s "$store/run.zyl-wal" ] && kill -0 "$writer" 2> /dev/null; do :; done
    "$batch" --follow "$store/run.zyl" --progress json 2> "$store/follow.txt" &
    follower=$!
    wait "$writer"
    wait "$follower" || true
    watched+=("$(wall)") watched_cpu+=("$(cpu)")
    lines=$((lines + $(grep -c '"generation"' "$store/follow.txt" || true)))
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
ratio() { echo "$1 / $2" | bc -l; }
p=$(median "${plain[@]}") w=$(median "${watched[@]}")
pc=$(median "${plain_cpu[@]}") wc=$(median "${watched_cpu[@]}")
printf 'unwatched: median %.3f s, processor %.3f s\n' "$p" "$pc"
printf 'watched:   median %.3f s, processor %.3f s (the follower printed %d of the lines)\n' \
    "$w" "$wc" "$((lines / runs))"
printf 'ratio: %.3f wall, %.3f processor\n' "$(ratio "$w" "$p")" "$(ratio "$wc" "$pc")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
