#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each one for a fixed time on a copy of its corpus from tests/fuzz/corpus,
# so the repository corpus is never rewritten. Prints the executions per target and exits
# non-zero when any target crashes, reports a sanitizer error, times out or runs out of memory.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# Environment: FUZZ_JOBS (build jobs, default 2), FUZZ_BUILD_DIR (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi
build="${FUZZ_BUILD_DIR:-build-fuzz}"
jobs="${FUZZ_JOBS:-2}"
targets=(fuzz_command_line fuzz_profile fuzz_segment_decoder fuzz_wfdisc_writer fuzz_index_page
         fuzz_mseed_writer fuzz_sds_reader)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAZPLOT_FUZZ=ON -DTRAZPLOT_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_targets

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
work="$build/fuzz-run"
for target in "${targets[@]}"; do
    corpus="$work/corpus/$target"
    artifacts="$work/artifacts/$target"
    log="$work/$target.log"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp tests/fuzz/corpus/"$target"/* "$corpus"/
    options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -close_fd_mask=3
             -print_final_stats=1 -artifact_prefix="$artifacts/")
    if [[ -f tests/fuzz/$target.dict ]]; then
        options+=(-dict=tests/fuzz/$target.dict)
    fi

    status=0
    "$build/tests/fuzz/$target" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?

    # A crashed run has no closing count, and must still reach the report below.
    runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -n 1 | awk '{print $2}' || true)
    findings=$(find "$artifacts" -type f | wc -l)
    if [[ $status -ne 0 || -z "$runs" || $findings -ne 0 ]] ||
        grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|check failed:' "$log"; then
        echo "$target: FAILED (status $status, ${runs:-?} executions); log: $log"
        grep -E 'ERROR:|runtime error:|check failed:|SUMMARY:' "$log" | head -n 5 || true
        find "$artifacts" -type f -printf '  reproducer: %p\n'
        failed=1
    else
        echo "$target: $runs executions in ${seconds}s, no findings"
    fi
done
exit "$failed"
