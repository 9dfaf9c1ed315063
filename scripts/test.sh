#!/usr/bin/env bash
# Installs what is missing, then runs every stage: the ordinary build and all tests, all tests
# under AddressSanitizer + UndefinedBehaviorSanitizer, the transport and window tests under
# ThreadSanitizer, and each fuzz target for a minute. Prints the time of every stage.
#
#   QVLINK_QUICK=1 scripts/test.sh      only the ordinary build and tests
#   scripts/test.sh fuzz tsan           only the named stages (build asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then
    stages=(build asan tsan fuzz)
    [ "${QVLINK_QUICK:-0}" = 1 ] && stages=(build)
fi

timings=()
run_stage() {
    local name=$1 script=$2 started=$SECONDS
    echo "=== stage $name ==="
    "$script" "${@:3}"
    timings+=("$(printf '%-6s %4d s' "$name" $((SECONDS - started)))")
    echo "=== stage $name done in $((SECONDS - started)) s ==="
}

total_started=$SECONDS
QVLINK_TALLY=$(mktemp)
export QVLINK_TALLY
trap 'rm -f "$QVLINK_TALLY"' EXIT
run_stage deps ./scripts/install-deps.sh
for stage in "${stages[@]}"; do
    run_stage "$stage" "./scripts/ci-stages/$stage.sh"
done

# The Debian package of the build stage's Release tree: inspected, installed with both answers
# to the capture question and purged again.
if [[ " ${stages[*]} " == *" build "* ]]; then
    run_stage package ./scripts/ci-package.sh "${QVLINK_BUILD_ROOT:-build}"
fi

echo "=== stage times ==="
printf '%s\n' "${timings[@]}"
printf '%-6s %4d s\n' total $((SECONDS - total_started))
# Tests of every CTest run above plus the fuzz targets.
awk '{ passed += $1; failed += $2 } END { printf "%d passed, %d failed\n", passed, failed }' \
    "$QVLINK_TALLY"
