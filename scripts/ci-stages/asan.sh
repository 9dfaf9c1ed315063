#!/usr/bin/env bash
# Stage: everything built with AddressSanitizer + UndefinedBehaviorSanitizer (in build-asan/),
# windows included, and every test suite run under them. Leaks are reported; the suppressions
# cover only what Qt and the font libraries keep until exit.
source "$(dirname "$0")/common.sh"

cmake -S . -B "$build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVLINK_WERROR=ON \
    -DQVLINK_SANITIZE=address
cmake --build "$build-asan" -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/ci-stages/lsan.supp:print_suppressions=0"
run_ctest "$build-asan"
