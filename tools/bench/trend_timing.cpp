#include "trend_timing.h"

#include <qcustomplot.h>
#include <sqlite3.h>

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "event_loop.h"
#include "history/history_store.h"
#include "process_stats.h"
#include "trend/trend_window.h"

namespace qvlink::bench {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kDaySeconds = 24 * 3600;
constexpr int kWeekPoints = 4;
constexpr int kPanFrames = 40;

/// A scratch history file holding one value per second of TI points 1 to 4 over the last
/// seven days, and point 5 over the last day.
class ScratchHistory {
public:
    explicit ScratchHistory(std::int64_t endSecond) {
        std::string pattern = std::filesystem::temp_directory_path() / "qvlink-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder for the history");
        }
        m_folder = pattern;
        m_path = m_folder + "/history.sqlite3";
        HistoryStore store;  // the recorder's own tables
        if (store.open(m_path, endSecond * kSecond) != StoreStatus::Ok) {
            throw std::runtime_error("cannot create the history file " + m_path);
        }
        store.close();
        sqlite3* db = nullptr;
        sqlite3_open(m_path.c_str(), &db);
        exec(db, "BEGIN");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO ti_second VALUES(?1, ?2, ?3, ?3, ?3, 1, 'bench')", -1,
                           &insert, nullptr);
        for (int point = 1; point <= kWeekPoints + 1; ++point) {
            const std::int64_t days = point <= kWeekPoints ? 7 : 1;
            for (std::int64_t second = endSecond - days * kDaySeconds; second < endSecond;
                 ++second) {
                sqlite3_bind_int(insert, 1, point);
                sqlite3_bind_int64(insert, 2, second);
                sqlite3_bind_double(insert, 3,
                                    point * 10.0 + std::sin(static_cast<double>(second) / 600.0));
                sqlite3_step(insert);
                sqlite3_reset(insert);
                ++m_rows;
            }
        }
        sqlite3_finalize(insert);
        exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE);");
        sqlite3_close(db);
    }
    ~ScratchHistory() { std::filesystem::remove_all(m_folder); }
    ScratchHistory(const ScratchHistory&) = delete;
    ScratchHistory& operator=(const ScratchHistory&) = delete;

    const std::string& path() const { return m_path; }
    double mibPerMillionRows() const {
        return static_cast<double>(std::filesystem::file_size(m_path)) / (1024.0 * 1024.0) /
               (static_cast<double>(m_rows) / 1e6);
    }

private:
    static void exec(sqlite3* db, const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("history file: ") + sqlite3_errmsg(db));
        }
    }

    std::string m_folder;
    std::string m_path;
    std::int64_t m_rows = 0;
};

bool loaded(const TrendWindow& window) {
    return window.appliedGeneration() == window.requestedGeneration();
}

/// Wall and process CPU time from its construction to `finish()`.
class Stopwatch {
public:
    Stopwatch() : m_cpuStart(processCpuNs()) { m_wall.start(); }
    TrendSpan finish() const {
        return {static_cast<double>(m_wall.nsecsElapsed()) / 1e6,
                static_cast<double>(processCpuNs() - m_cpuStart) / 1e6};
    }

private:
    QElapsedTimer m_wall;
    std::int64_t m_cpuStart;
};

/// From the command that opens a trend of `points` over the last `widthUs` to its plot
/// painted with what the store holds.
TrendSpan openTime(const ScratchHistory& history, const EpochClock& clock, std::int64_t widthUs,
                   const std::vector<int>& points) {
    const Stopwatch stopwatch;
    TrendWindow window(history.path(), clock, FormatSettings{}, Dialogs{});
    window.showLast(widthUs);
    for (int point : points) {
        window.addPoint({PointKind::Ti, point});
    }
    window.show();
    runEventsUntil([&] { return loaded(window); }, 10'000, 1);
    window.plot()->replot(QCustomPlot::rpImmediateRefresh);
    return stopwatch.finish();
}

TrendSpan medianPanFrame(const ScratchHistory& history, const EpochClock& clock) {
    TrendWindow window(history.path(), clock, FormatSettings{}, Dialogs{});
    window.showLast(7 * kDaySeconds * kSecond);
    for (int point = 1; point <= kWeekPoints; ++point) {
        window.addPoint({PointKind::Ti, point});
    }
    window.show();
    runEventsUntil([&] { return loaded(window); }, 10'000, 1);
    std::vector<TrendSpan> frames;
    QCPAxis* time = window.plot()->xAxis;
    for (int frame = 0; frame < kPanFrames; ++frame) {
        const Stopwatch stopwatch;
        if (frame % 2 == 0) {
            time->moveRange(time->range().size() / 50);  // a drag
        } else {
            time->scaleRange(frame % 4 == 1 ? 0.9 : 1.0 / 0.9);  // a wheel step
        }
        window.plot()->replot(QCustomPlot::rpImmediateRefresh);
        frames.push_back(stopwatch.finish());
    }
    std::sort(frames.begin(), frames.end(),
              [](const TrendSpan& a, const TrendSpan& b) { return a.cpuMs < b.cpuMs; });
    return frames[frames.size() / 2];
}

}  // namespace

TrendTimes measureTrend() {
    const std::int64_t endUs = systemEpochMicros();
    const ScratchHistory history(endUs / kSecond);
    const EpochClock clock = [endUs] { return endUs; };
    TrendTimes times;
    times.open24h = openTime(history, clock, kDaySeconds * kSecond, {kWeekPoints + 1});
    times.open7d = openTime(history, clock, 7 * kDaySeconds * kSecond, {1});
    times.panFrame = medianPanFrame(history, clock);
    times.mibPerMillionRows = history.mibPerMillionRows();
    return times;
}

}  // namespace qvlink::bench
