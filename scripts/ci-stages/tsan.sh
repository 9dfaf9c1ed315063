#!/usr/bin/env bash
# Stage: the transport and window suites built with ThreadSanitizer (in build-tsan/): the
# endpoint's drain on the watching thread, its ThreadedEvent listener thread and the HTTP
# client against its server thread, the bus recording's writer thread, also under the floods
# of the fault tests; the metrics server's thread scraping while a capture is counted; the
# bridge's reader, publisher and MQTT threads while qvlink-dump publishes a capture; a
# replayed capture loaded on its own thread while the event loop runs.
source "$(dirname "$0")/common.sh"

suites=(
    tests/net/net_tests
    tests/recording/recording_tests
    tests/mqtt/mqtt_tests
    tests/remote/qvlink_remote_tests
    tests/app/qvlink_main_window_tests
    tests/trace/qvlink_trace_window_tests
    tests/replay_window/qvlink_replay_window_tests
    tests/reliability/qvlink_reliability_tests
    tests/metrics/metrics_tests
    tests/dump/dump_metrics_tests
    tests/dump/dump_mqtt_tests
)
cmake -S . -B "$build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVLINK_WERROR=ON \
    -DQVLINK_SANITIZE=thread
cmake --build "$build-tsan" -j "$jobs" --target "${suites[@]##*/}"

# CTest knows every suite of the project; run the tests of the suites built here, by name.
names=()
for suite in "${suites[@]}"; do
    while IFS= read -r name; do
        names+=("$name")
    done < <(QT_QPA_PLATFORM=offscreen "$build-tsan/$suite" --gtest_list_tests |
        awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
done
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/ci-stages/tsan.supp"
run_ctest "$build-tsan" -R "^($(IFS='|'; echo "${names[*]}"))\$"
