#!/usr/bin/env bash
# Stage: the layer include check, the ordinary build of everything (in build/) and every test
# suite.
source "$(dirname "$0")/common.sh"

./scripts/check-layers.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVLINK_WERROR=ON
cmake --build "$build" -j "$jobs"
run_ctest "$build"
