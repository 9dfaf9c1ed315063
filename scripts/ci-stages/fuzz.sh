#!/usr/bin/env bash
# Stage: the libFuzzer targets built with clang-14 (in build-fuzz/, ASan+UBSan), each run for
# QVLINK_FUZZ_SECONDS (60 by default) from its checked-in seed corpus. Any finding fails the
# stage; its input is kept in build-fuzz/findings/. Prints executions and corpus size per target.
source "$(dirname "$0")/common.sh"

seconds=${QVLINK_FUZZ_SECONDS:-60}
fuzz=$build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQVLINK_WERROR=ON -DQVLINK_FUZZ=ON -DQVLINK_BUILD_GUI=OFF
cmake --build "$fuzz" -j "$jobs" --target qvlink_fuzzers

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p "$fuzz/findings"
failed=0
for seeds in tests/fuzz/corpus/*/; do
    target=$(basename "$seeds")
    corpus=$fuzz/corpus/$target
    rm -rf "$corpus" && mkdir -p "$corpus"
    dict=()
    [ -f "tests/fuzz/$target.dict" ] && dict=("-dict=tests/fuzz/$target.dict")
    log=$fuzz/fuzz-$target.log
    if "$fuzz/tests/fuzz/qvlink_fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$fuzz/findings/" \
        "${dict[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
        outcome="no findings"
        tally 1 0
    else
        outcome="FINDING (see $log)"
        failed=1
        tally 0 1
        tail -60 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "[ figures ] fuzz $target: ${runs:-?} executions in $seconds s," \
        "corpus $(find "$corpus" -type f | wc -l) inputs ($(find "$seeds" -type f | wc -l) seeds), $outcome"
done
exit "$failed"
