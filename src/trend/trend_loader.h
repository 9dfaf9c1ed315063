#pragma once

// Reads what a plot shows from the history file on a thread of its own, so the window never
// waits on the disk. The newest request replaces one not yet started. No Qt.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "history/history_reader.h"

namespace qvlink {

struct TrendRequest {
    std::uint64_t generation = 0;
    TimeSpan span;
    int buckets = 0;
    std::vector<PointId> points;
    /// Per point, the device known to have sent it last (live); empty: ask the store.
    std::vector<std::string> knownMacs;
};

struct TrendResult {
    std::uint64_t generation = 0;
    TimeSpan span;
    std::vector<PointHistory> points;  ///< in the order of the request's points
    /// Per point, the device whose health its band shows.
    std::vector<std::string> macs;
    std::vector<StoredDeviceEvent> events;
    std::vector<TimeSpan> recordings;
};

class TrendLoader {
public:
    /// Called on the loader's thread with each finished request.
    using Delivery = std::function<void(TrendResult result)>;

    TrendLoader(std::string historyPath, Delivery deliver);
    /// Finishes the request in progress, drops a pending one and joins the thread.
    ~TrendLoader();
    TrendLoader(const TrendLoader&) = delete;
    TrendLoader& operator=(const TrendLoader&) = delete;

    void request(TrendRequest request);

private:
    void run();
    TrendResult load(HistoryReader& reader, const TrendRequest& request) const;

    std::string m_path;
    Delivery m_deliver;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<TrendRequest> m_pending;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace qvlink
