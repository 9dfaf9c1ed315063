#pragma once

// Reads the history file for plots: its own read-only SQLite connection, meant for a worker
// thread (one reader per thread). Times are microseconds since 1970 UTC throughout.

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace qvlink {

enum class PointKind { Ts, Ti };

/// A TS or TI point of the bus tables.
struct PointId {
    PointKind kind = PointKind::Ti;
    int number = 0;

    friend bool operator==(const PointId&, const PointId&) = default;
};

/// The half-open span [fromUs, toUs).
struct TimeSpan {
    std::int64_t fromUs = 0;
    std::int64_t toUs = 0;

    friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};

struct TrendSample {
    std::int64_t timeUs = 0;
    double value = 0.0;

    friend bool operator==(const TrendSample&, const TrendSample&) = default;
};

/// What the store holds of one point over a span.
struct PointHistory {
    /// At most three samples per bucket: the bucket's minimum, maximum and last value at the
    /// times they were taken, in time order. TS values are state levels (`tsLevel`).
    std::vector<TrendSample> samples;
    /// Flags of the last TS change in the span (tells a two-position signal); 0 for TI.
    int lastFlags = 0;
    /// Device that sent the point's last row in the span; empty when there is none.
    std::string lastMac;
};

/// A device event as stored: kind is the store's word ("silent", "restart", ...).
struct StoredDeviceEvent {
    std::int64_t timeUs = 0;
    std::string mac;
    std::string kind;
    int count = 0;
};

/// State level of a TS change: 0/1 for a one-position signal, the two state bits for a
/// two-position one (0 "обрыв", 1 "откл", 2 "вкл", 3 "авария").
int tsLevel(int flags);

class HistoryReader {
public:
    /// Remembers the file; it is opened at the first query and again after a failed one, so a
    /// file the recorder creates later is found.
    explicit HistoryReader(std::string path);
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    /// The point's rows in `span`, decimated to at most `buckets` equal time buckets.
    PointHistory readPoint(PointId point, TimeSpan span, int buckets);
    /// Events of these devices in `span`, oldest first.
    std::vector<StoredDeviceEvent> deviceEvents(const std::vector<std::string>& macs,
                                                TimeSpan span);
    /// Runs of the monitor that overlap `span`, oldest first.
    std::vector<TimeSpan> recordingSpans(TimeSpan span);
    /// Why the last query found nothing to read; empty after a successful one.
    const std::string& lastError() const { return m_lastError; }

private:
    bool ensureOpen();
    void fail(const char* what);
    std::string lastTiMac(int point, std::int64_t beforeSecond);

    std::string m_path;
    sqlite3* m_db = nullptr;
    std::string m_lastError;
};

}  // namespace qvlink
