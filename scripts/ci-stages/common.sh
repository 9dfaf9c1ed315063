# Shared by the stage scripts: run from the project root with one job per core. Every stage
# builds with QVLINK_WERROR=ON: here the compiler is the project's own, so a warning is a
# fault.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
jobs=$(nproc)
# Build folders are $build, $build-asan, $build-tsan and $build-fuzz.
build=${QVLINK_BUILD_ROOT:-build}

# run_ctest <build dir> [ctest arguments...]: runs the tests and, when scripts/test.sh asked for
# it through QVLINK_TALLY, adds the passed and failed counts to its tally.
run_ctest() {
    local dir=$1
    shift
    local status=0
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@") 2>&1 |
        tee "$dir/ctest.log" || status=$?
    # Figures that the tests print, also those of passed tests (CTest shows only failures).
    echo "=== figures from $dir ==="
    grep -h '^\[ figures *\]' "$dir/Testing/Temporary/LastTest.log" || true
    if [ -n "${QVLINK_TALLY:-}" ]; then
        sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' \
            "$dir/ctest.log" | awk '{ print $2 - $1, $1 }' >>"$QVLINK_TALLY"
    fi
    return "$status"
}

# tally <passed> <failed>: counts checks that are not CTest tests (the fuzz targets).
tally() {
    [ -n "${QVLINK_TALLY:-}" ] && echo "$1 $2" >>"$QVLINK_TALLY"
    return 0
}
