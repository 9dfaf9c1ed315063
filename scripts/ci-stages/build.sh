#!/usr/bin/env bash
# Stage: the layer include check, the ordinary build of everything (in build/) and every test
# suite. A Release build: the sanitizer stages build RelWithDebInfo, so both types are built with
# warnings as errors, and the package stage packages this tree.
source "$(dirname "$0")/common.sh"

./scripts/check-layers.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVLINK_WERROR=ON
cmake --build "$build" -j "$jobs"
run_ctest "$build"
