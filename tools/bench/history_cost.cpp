#include "history_cost.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "history/history_store.h"
#include "mix_feeder.h"

namespace qvlink::bench {
namespace {

constexpr int kDevices = 29;
constexpr int kDatagrams = 20'000;
constexpr std::int64_t kPacingNs = 1'000'000;  // 1,000 datagrams/s
constexpr int kTiRows = 1'000'000;

/// The longest wall time of one handling, datagrams paced at 1,000 a second.
double longestPacedMs(MixFeeder& feed, double seconds) {
    const int count = static_cast<int>(seconds * 1e9 / kPacingNs);
    std::int64_t longest = 0;
    std::int64_t next = monotonicNs();
    for (int i = 0; i < count; ++i) {
        next += kPacingNs;
        const std::int64_t start = monotonicNs();
        feed(i);
        longest = std::max(longest, monotonicNs() - start);
        std::this_thread::sleep_for(std::chrono::nanoseconds(next - monotonicNs()));
    }
    return static_cast<double>(longest) * 1e-6;
}

}  // namespace

HandlingDelays measureHandlingDelays(MonitorUnderTest& recording, MonitorUnderTest& plain,
                                     double seconds) {
    MixFeeder recorded(recording.main(), kDevices, kDatagrams);
    MixFeeder unrecorded(plain.main(), kDevices, kDatagrams);
    HandlingDelays delays;
    delays.addedUs =
        std::max(0.0, leastMicros(kDatagrams, recorded) - leastMicros(kDatagrams, unrecorded));
    delays.longestMs = longestPacedMs(recorded, seconds);
    delays.plainLongestMs = longestPacedMs(unrecorded, seconds);
    return delays;
}

double historyBytesPerMillionTiRows(const std::string& folder) {
    HistoryStore store;
    const std::int64_t start = std::int64_t{1'700'000'000} * 1'000'000;
    if (store.open(folder + "/size.sqlite3", start) != StoreStatus::Ok) {
        return 0.0;
    }
    constexpr int kPoints = kPointCount;
    for (int second = 0; second < kTiRows / kPoints; ++second) {
        RecordBatch batch;
        for (int point = 1; point <= kPoints; ++point) {
            const double value = 100.0 + point + 0.01 * second;
            batch.tiSeconds.push_back(TiSecond{point, start / 1'000'000 + second, value,
                                               value - 0.5, value + 0.5, 10, "FA:CE:10:0A:00:3C"});
        }
        store.write(batch, start + second * std::int64_t{1'000'000});
    }
    return static_cast<double>(store.dataBytes()) * 1e6 / kTiRows;
}

}  // namespace qvlink::bench
