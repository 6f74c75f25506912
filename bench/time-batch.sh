#!/usr/bin/env bash
# Times whole runs of the 1000 x 1000 default task: zyl-batch, and the desktop program on the
# offscreen platform with close=1, each started anew RUNS times. Prints every wall-clock time,
# the best and the median, their ratio, and the machine's load before and after (timings on a
# busy machine are not worth much: take them when the load is low).
# Usage: bench/time-batch.sh [BUILD_DIR] [RUNS]     (defaults: build/release 7)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-7}
task=bench/tasks/default-1000x1000.txt
batch=$build/src/zyl-batch
desktop=$build/src/zyl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The desktop program runs the script it is given and closes at the end of the run.
sed 's/^\[OPTIONS\]$/[OPTIONS]\nclose=1\nseed=1/' "$task" > "$work/task.txt"
grep -q '^close=1$' "$work/task.txt"

now() { date +%s.%N; }

# time_runs LABEL COMMAND...: prints the times and sets BEST and MEDIAN.
time_runs() {
    local label=$1
    shift
    local times=()
    for ((i = 0; i < runs; i++)); do
        local start end
        start=$(now)
        timeout 120 "$@" > /dev/null 2>&1
        end=$(now)
        times+=("$(echo "$end - $start" | bc -l)")
    done
    local sorted
    sorted=$(printf '%s\n' "${times[@]}" | sort -g)
    BEST=$(echo "$sorted" | head -n1)
    MEDIAN=$(echo "$sorted" | sed -n "$(((runs + 1) / 2))p")
    printf '%-8s runs: %s\n' "$label" "$(printf '%.3f ' "${times[@]}")"
    printf '%-8s best %.3f s, median %.3f s\n' "$label" "$BEST" "$MEDIAN"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
time_runs zyl-batch "$batch" --quiet --seed 1 "$task"
batch_best=$BEST
batch_median=$MEDIAN
if [ -x "$desktop" ]; then
    time_runs zyl env QT_QPA_PLATFORM=offscreen "$desktop" "$work/task.txt"
    printf 'desktop / batch: best %.2f, median %.2f\n' "$(echo "$BEST / $batch_best" | bc -l)" \
        "$(echo "$MEDIAN / $batch_median" | bc -l)"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
