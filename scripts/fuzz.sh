#!/usr/bin/env bash
# Builds the fuzz targets in build/fuzz (clang, libFuzzer, ASan and UBSan) and runs a campaign.
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]   one target
#   scripts/fuzz.sh --all SECONDS                            every target, two at a time
#   scripts/fuzz.sh --all 0                                  builds every target, runs none
#
# Targets: console script chart statistics text external-output store. New inputs are kept in
# build/fuzz/corpus/TARGET, the seeds are read from fuzz/corpus/TARGET; a crash, a single input
# running longer than 10 s or a process above 2 GB stops the campaign with a non-zero status and
# leaves the input in build/fuzz/artifacts/ and the log in build/fuzz/logs/TARGET.log.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(console script chart statistics text external-output store)

usage() { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[ $# -ge 2 ] || usage
seconds=$2
case "$seconds" in ''|*[!0-9]*) usage ;; esac

bash scripts/install-deps.sh fuzz
# ZYL_FUZZ_FLAGS: the optimisation and debug flags (CI builds with less, to be quicker).
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=${ZYL_FUZZ_FLAGS:--O2 -g -DNDEBUG}" \
      -DZYL_FUZZ=ON -DZYL_BUILD_TESTS=OFF -DZYL_BUILD_BENCH=OFF -DZYL_BUILD_GUI=OFF \
      ${ZYL_CMAKE_ARGS:-} >/dev/null

max_len() {
    case "$1" in
        console) echo 2048 ;; script) echo 8192 ;; chart) echo 16384 ;; statistics) echo 4096 ;;
        text) echo 512 ;; store) echo 65536 ;; *) echo 256 ;;
    esac
}

# run TARGET SECONDS [options...]: one campaign; its status is libFuzzer's.
run() {
    local target=$1 time=$2
    shift 2
    local dict=() seeds=("fuzz/corpus/$target")
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
    [ "$target" = script ] && seeds+=(examples)
    mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts" "build/fuzz/logs"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "build/fuzz/fuzz/fuzz-$target" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="build/fuzz/artifacts/$target-" "${dict[@]}" "$@" \
        "build/fuzz/corpus/$target" "${seeds[@]}" >"build/fuzz/logs/$target.log" 2>&1
}

summary() {
    local target=$1 status=$2 log="build/fuzz/logs/$1.log"
    local stats
    stats=$(grep -aE '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
    local runs
    runs=$(grep -aE '^stat::number_of_executed_units' "$log" | grep -oE '[0-9]+$' || echo '?')
    printf '%-16s %s  executions: %s  %s\n' "$target" \
        "$([ "$status" -eq 0 ] && echo ok || echo "FAILED (status $status, see $log)")" \
        "$runs" "$stats"
}

if [ "$1" = --all ]; then
    cmake --build build/fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz-}"
    # libFuzzer reads a time of 0 as no limit at all.
    [ "$seconds" -gt 0 ] || exit 0
    failed=0
    for ((i = 0; i < ${#targets[@]}; i += 2)); do
        pids=()
        batch=("${targets[@]:i:2}")
        for target in "${batch[@]}"; do
            run "$target" "$seconds" &
            pids+=($!)
        done
        for k in "${!batch[@]}"; do
            status=0
            wait "${pids[$k]}" || status=$?
            summary "${batch[$k]}" "$status"
            [ "$status" -eq 0 ] || failed=1
        done
    done
    exit $failed
fi

target=$1
shift 2
[[ " ${targets[*]} " == *" $target "* ]] || { echo "unknown target: $target" >&2; usage; }
cmake --build build/fuzz -j"$(nproc)" --target "fuzz-$target"
status=0
run "$target" "$seconds" "$@" || status=$?
summary "$target" "$status"
exit $status
