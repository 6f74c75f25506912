#!/usr/bin/env bash
# Times whole zyl-batch runs of an external task (population 16, 5 generations) with 1, 2, 4,
# 8 and 16 workers: an objective that sleeps 0.2 s (waiting programs need no processor) and a
# CPU-bound one (about 0.3 s of arithmetic). Prints each time and the speedup over one worker,
# and checks that every worker count prints the same report.
# Usage: bench/time-workers.sh [BUILD_DIR] [sleep|cpu|both]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
which=${2:-both}
batch=$(realpath "$build/src/zyl-batch")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat > sleeper.sh <<'PROGRAM'
#!/bin/sh
read x y < "$1"
sleep 0.2
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%.17g\n", x * x + y * y }' > "$2"
PROGRAM
cat > cruncher.sh <<'PROGRAM'
#!/bin/sh
read x y < "$1"
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN {
    s = 0; for (i = 0; i < 3000000; i++) s += sin(i * 1e-6)
    printf "%.17g\n", x * x + y * y + 0 * s }' > "$2"
PROGRAM
chmod +x sleeper.sh cruncher.sh

task() {
    printf '[FUNCTION]\nexternal=1\nexternal_name=%s\ninput_name=in.txt\noutput_name=out.txt\n' "$1"
    printf '[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=16\n[OPTIONS]\n'
    printf 'max_iteration=5\n[SELECTION]\ntournament=1\ntournament_size=2\n'
    printf '[CROSSOVER]\nprobability=0.7\narithmetical=1\n[MUTATION]\nprobability=0.5\nuniform=1\n'
}

measure() {
    local program=$1 base=""
    task "./$program" > task.txt
    shift
    echo "$program (load $(cut -d' ' -f1-3 /proc/loadavg))"
    for workers in "$@"; do
        local start end
        start=$(date +%s.%N)
        "$batch" --quiet --seed 1 --workers "$workers" task.txt > "report-$workers.txt"
        end=$(date +%s.%N)
        local seconds
        seconds=$(echo "$end - $start" | bc -l)
        [ -n "$base" ] || base=$seconds
        cmp -s "report-$1.txt" "report-$workers.txt" ||
            { echo "  the report with $workers workers differs from $1's" >&2; exit 1; }
        printf '  %2d workers  %6.2f s  speedup %.2f\n' "$workers" "$seconds" \
            "$(echo "$base / $seconds" | bc -l)"
    done
}

case "$which" in
    sleep) measure sleeper.sh 1 2 4 8 16 ;;
    cpu) measure cruncher.sh 1 2 ;;
    *) measure sleeper.sh 1 2 4 8 16; measure cruncher.sh 1 2 ;;
esac
