#!/usr/bin/env bash
# Times whole zyl-batch runs of Rastrigin's function in 30 variables written with x^2 and with
# x*x (population 100, 1000 generations), in pairs (one of each, RUNS times), so that the
# machine's drift weighs on both alike. Prints the medians, their ratio, and whether the two
# runs reported the same best value.
# Usage: bench/time-power.sh [BUILD_DIR] [RUNS]     (defaults: build/release 11)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-11}
batch=$build/src/zyl-batch
power=bench/tasks/rastrigin30-power.txt
product=bench/tasks/rastrigin30-product.txt
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

powers=()
products=()
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 0; i < runs; i++)); do
    t0=$(now)
    "$batch" --quiet --seed 1 "$power" > "$out/power.txt"
    t1=$(now)
    "$batch" --quiet --seed 1 "$product" > "$out/product.txt"
    t2=$(now)
    powers+=("$(elapsed "$t0" "$t1")")
    products+=("$(elapsed "$t1" "$t2")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
pw=$(median "${powers[@]}")
pr=$(median "${products[@]}")
printf 'x^2: median %.3f s\nx*x: median %.3f s\nratio %.3f\n' "$pw" "$pr" \
    "$(echo "$pw / $pr" | bc -l)"
if cmp -s <(grep '^Best:' "$out/power.txt") <(grep '^Best:' "$out/product.txt"); then
    echo "best: the same ($(grep '^Best:' "$out/power.txt"))"
else
    echo "best: x^2 $(grep '^Best:' "$out/power.txt"); x*x $(grep '^Best:' "$out/product.txt")"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
