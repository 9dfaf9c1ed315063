#include "history/history_reader.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "common/bus_types.h"
#include "history/sqlite_statement.h"

namespace qvlink {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
/// A writer holds its lock for one commit; a reader waits at most this long for it.
constexpr int kBusyTimeoutMs = 200;

/// One stored row reduced to what a plot needs: its time, its lowest, highest and last value.
struct RowValues {
    std::int64_t timeUs;
    double low;
    double high;
    double last;
};

/// Folds time-ordered rows into equal buckets, keeping each bucket's minimum, maximum and
/// last value with the times they were taken.
class Decimator {
public:
    Decimator(TimeSpan span, int buckets, std::vector<TrendSample>& out)
        : m_span(span), m_buckets(std::max(buckets, 1)), m_out(out) {}

    void add(const RowValues& row) {
        const std::int64_t bucket = bucketOf(row.timeUs);
        if (m_rows == 0 || bucket != m_bucket) {
            flush();
            m_bucket = bucket;
            m_low = {row.timeUs, row.low};
            m_high = {row.timeUs, row.high};
        } else {
            if (row.low < m_low.value) {
                m_low = {row.timeUs, row.low};
            }
            if (row.high > m_high.value) {
                m_high = {row.timeUs, row.high};
            }
        }
        m_last = {row.timeUs, row.last};
        ++m_rows;
    }

    void flush() {
        if (m_rows == 0) {
            return;
        }
        // Stable on equal times, so a row's range is drawn low, high, then where it ended.
        TrendSample picked[] = {m_low, m_high, m_last};
        std::stable_sort(
            std::begin(picked), std::end(picked),
            [](const TrendSample& a, const TrendSample& b) { return a.timeUs < b.timeUs; });
        for (const TrendSample& sample : picked) {
            if (m_out.empty() || !(m_out.back() == sample)) {
                m_out.push_back(sample);
            }
        }
        m_rows = 0;
    }

private:
    std::int64_t bucketOf(std::int64_t timeUs) const {
        const std::int64_t width = std::max<std::int64_t>(m_span.toUs - m_span.fromUs, 1);
        // In 128 bits: a week in microseconds times the bucket count overflows 64.
        return static_cast<std::int64_t>(static_cast<__int128>(timeUs - m_span.fromUs) * m_buckets /
                                         width);
    }

    TimeSpan m_span;
    std::int64_t m_buckets;
    std::vector<TrendSample>& m_out;
    std::int64_t m_bucket = 0;
    std::int64_t m_rows = 0;
    TrendSample m_low;
    TrendSample m_high;
    TrendSample m_last;
};

std::int64_t floorSeconds(std::int64_t timeUs) {
    return timeUs >= 0 ? timeUs / kMicrosPerSecond
                       : -((-timeUs + kMicrosPerSecond - 1) / kMicrosPerSecond);
}

std::int64_t ceilSeconds(std::int64_t timeUs) {
    return -floorSeconds(-timeUs);
}

void readTi(SqliteStatement& query, Decimator& decimator, PointHistory& history) {
    while (query.step() == SQLITE_ROW) {
        decimator.add({query.columnInt(0) * kMicrosPerSecond, query.columnDouble(2),
                       query.columnDouble(3), query.columnDouble(1)});
        history.lastMac = query.columnText(4);
    }
}

void readTs(SqliteStatement& query, Decimator& decimator, PointHistory& history) {
    while (query.step() == SQLITE_ROW) {
        const int flags = static_cast<int>(query.columnInt(1));
        const double level = tsLevel(flags);
        decimator.add({query.columnInt(0), level, level, level});
        history.lastFlags = flags;
        history.lastMac = query.columnText(2);
    }
}

}  // namespace

int tsLevel(int flags) {
    const bool doublePoint = (flags & kFlagDoublePoint) != 0;
    return flags & (doublePoint ? (kFlagHighBit | kFlagState) : kFlagState);
}

HistoryReader::HistoryReader(std::string path) : m_path(std::move(path)) {}

HistoryReader::~HistoryReader() {
    sqlite3_close(m_db);
}

bool HistoryReader::ensureOpen() {
    if (m_db != nullptr) {
        return true;
    }
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        fail("open");
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    return true;
}

void HistoryReader::fail(const char* what) {
    m_lastError = std::string("history ") + what + ": " +
                  (m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory");
    // Closed so that the next query opens the file afresh (it may have been replaced).
    sqlite3_close(m_db);
    m_db = nullptr;
}

PointHistory HistoryReader::readPoint(PointId point, TimeSpan span, int buckets) {
    PointHistory history;
    if (!ensureOpen()) {
        return history;
    }
    const bool ti = point.kind == PointKind::Ti;
    SqliteStatement query(m_db, ti ? "SELECT second, last, min, max FROM ti_second "
                                     "WHERE point = ?1 AND second >= ?2 AND second < ?3 "
                                     "ORDER BY second"
                                   : "SELECT rx_us, flags, mac FROM ts_change "
                                     "WHERE point = ?1 AND rx_us >= ?2 AND rx_us < ?3 "
                                     "ORDER BY rx_us, rowid");
    if (query.prepareResult() != SQLITE_OK) {
        fail("query");
        return history;
    }
    query.bind(1, static_cast<std::int64_t>(point.number));
    query.bind(2, ti ? ceilSeconds(span.fromUs) : span.fromUs);
    query.bind(3, ti ? ceilSeconds(span.toUs) : span.toUs);
    Decimator decimator(span, buckets, history.samples);
    if (ti) {
        readTi(query, decimator, history);
    } else {
        readTs(query, decimator, history);
    }
    decimator.flush();
    if (ti && !history.samples.empty()) {
        history.lastMac = lastTiMac(point.number, ceilSeconds(span.toUs));
    }
    m_lastError.clear();
    return history;
}

std::string HistoryReader::lastTiMac(int point, std::int64_t beforeSecond) {
    // Read once rather than with every row: a week of rows would copy the text 600,000 times.
    SqliteStatement query(m_db,
                          "SELECT mac FROM ti_second WHERE point = ?1 AND second < ?2 "
                          "ORDER BY second DESC LIMIT 1");
    query.bind(1, static_cast<std::int64_t>(point));
    query.bind(2, beforeSecond);
    return query.prepareResult() == SQLITE_OK && query.step() == SQLITE_ROW ? query.columnText(0)
                                                                            : std::string();
}

std::vector<StoredDeviceEvent> HistoryReader::deviceEvents(const std::vector<std::string>& macs,
                                                           TimeSpan span) {
    std::vector<StoredDeviceEvent> events;
    if (!ensureOpen()) {
        return events;
    }
    for (const std::string& mac : macs) {
        SqliteStatement query(m_db,
                              "SELECT time_us, kind, count FROM device_event "
                              "WHERE mac = ?1 AND time_us >= ?2 AND time_us < ?3 ORDER BY time_us");
        if (query.prepareResult() != SQLITE_OK) {
            fail("query");
            return {};
        }
        query.bind(1, mac);
        query.bind(2, span.fromUs);
        query.bind(3, span.toUs);
        while (query.step() == SQLITE_ROW) {
            events.push_back({query.columnInt(0), mac, query.columnText(1),
                              static_cast<int>(query.columnInt(2))});
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.timeUs < b.timeUs; });
    m_lastError.clear();
    return events;
}

std::vector<TimeSpan> HistoryReader::recordingSpans(TimeSpan span) {
    std::vector<TimeSpan> spans;
    if (!ensureOpen()) {
        return spans;
    }
    SqliteStatement query(m_db,
                          "SELECT start_us, stop_us FROM recording "
                          "WHERE stop_us >= ?1 AND start_us < ?2 ORDER BY start_us");
    if (query.prepareResult() != SQLITE_OK) {
        fail("query");
        return spans;
    }
    query.bind(1, span.fromUs);
    query.bind(2, span.toUs);
    while (query.step() == SQLITE_ROW) {
        spans.push_back({query.columnInt(0), query.columnInt(1)});
    }
    m_lastError.clear();
    return spans;
}

}  // namespace qvlink
