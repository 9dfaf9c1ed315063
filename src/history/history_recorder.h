#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "history/history_location.h"
#include "history/history_store.h"
#include "history/pending_records.h"
#include "common/clock.h"

namespace qvlink {

/// Where and how much the monitor records.
struct HistoryOptions {
    std::string path;  ///< the history file; further monitors take "-2", "-3"... beside it
    RetentionLimits retention;
    EpochClock clock = systemEpochMicros;
    std::chrono::milliseconds commitPeriod{1000};
    /// Bounds of the queue: TI seconds (folded beyond), TS changes and events (dropped and
    /// counted beyond) waiting for the writer.
    std::size_t tiCapacity = 16384;
    std::size_t changeCapacity = 65536;
    std::string vfs;  ///< SQLite file layer; empty for the system's
};

/// Totals since the recorder started.
struct RecorderCounters {
    std::uint64_t foldedTiSeconds = 0;
    std::uint64_t lostTsChanges = 0;
    std::uint64_t lostEvents = 0;
};

/// Records TS changes, TI seconds and device events into the history file. The reception
/// path only enqueues (a short lock, never held across I/O); a writer thread owns the
/// database connection and commits what is pending about once per commit period, prunes
/// past the retention limits in small steps, and survives a damaged file, a full disk and a
/// second monitor on the same file. Destruction commits what is still pending.
class HistoryRecorder {
public:
    /// Text for the user and whether it needs the user's attention. Called on the writer
    /// thread.
    using Notice = std::function<void(const std::string& text, bool needsAttention)>;

    HistoryRecorder(HistoryOptions options, Notice notice);
    ~HistoryRecorder();
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    void recordTsChange(TsChange change);
    void recordTiValue(int point, std::int64_t rxUs, const std::string& mac, float value);
    void recordEvent(const DeviceEvent& event);

    RecorderCounters counters() const;
    /// The file being written, once the writer has opened one; empty before or without.
    std::string activePath() const;

private:
    void run();
    /// Claims and opens the configured file or, held by another monitor, a numbered one
    /// beside it; a file that cannot be used is moved aside once. False: recording is off.
    bool openStore();
    StoreStatus openClaimed(const std::string& path);
    bool moveAsideAndReopen(const std::string& path);
    /// Writes what is pending (or what the previous attempt could not); false when the file
    /// became unusable and no fresh one could be started.
    bool commitPending();
    /// One attempt at the unwritten batch; true when it is in the file.
    bool writeUnwritten();
    /// Announces a pause once; the unwritten batch is tried again each period.
    void pause(StoreStatus status);
    /// Runs a few prune steps; true while more are due.
    bool pruneWhileDue();
    void announceLosses(const RecordBatch& batch);
    void notify(const std::string& text, bool needsAttention) const;

    HistoryOptions m_options;
    Notice m_notice;

    mutable std::mutex m_queueMutex;  // guards m_pending only; never held across I/O
    PendingRecords m_pending;
    std::atomic<bool> m_accepting{true};

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;

    // Writer thread only.
    HistoryStore m_store;
    HistoryFileLock m_lock;
    std::optional<RecordBatch> m_unwritten;
    bool m_paused = false;
    bool m_usable = true;
    mutable std::mutex m_pathMutex;
    std::string m_activePath;

    std::thread m_writer;  // last: starts once everything above exists
};

}  // namespace qvlink
