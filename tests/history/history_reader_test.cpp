#include "history/history_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/history_file.h"

namespace qvlink {
namespace {

using test::HistoryFile;

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kT0 = 1'765'000'000;  // a whole second, in seconds

struct TiRow {
    std::int64_t second;
    double last, min, max;
};

struct DecimationCase {
    const char* name;
    std::vector<TiRow> rows;  // seconds after kT0
    int buckets;
    std::vector<TrendSample> expected;  // seconds after kT0
};

std::vector<TrendSample> shifted(std::vector<TrendSample> samples) {
    for (TrendSample& sample : samples) {
        sample.timeUs = (kT0 + sample.timeUs) * kSecond;
    }
    return samples;
}

TEST(HistoryReader, TiDecimationKeepsEachBucketsMinimumMaximumAndLast) {
    const DecimationCase cases[] = {
        {"one row, flat", {{0, 5, 5, 5}}, 10, {{0, 5}}},
        {"one row with a spike: low, high, then where it ended",
         {{0, 5, 1, 9}},
         10,
         {{0, 1}, {0, 9}, {0, 5}}},
        {"as many buckets as rows: every row on its own",
         {{0, 1, 1, 1}, {1, 2, 2, 2}, {2, 3, 3, 3}, {3, 4, 4, 4}},
         4,
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}}},
        {"two buckets of two rows: the extremes at their own times, and the last",
         {{0, 3, 3, 3}, {1, 7, 7, 7}, {2, 2, 2, 2}, {3, 6, 6, 6}},
         2,
         {{0, 3}, {1, 7}, {2, 2}, {3, 6}}},
        {"one bucket of four: minimum inside a row's range, maximum, last",
         {{0, 4, 4, 4}, {1, 5, 0, 8}, {2, 6, 6, 9}, {3, 5, 5, 5}},
         1,
         {{1, 0}, {2, 9}, {3, 5}}},
        {"equal extremes: the earliest row counts",
         {{0, 2, 2, 2}, {1, 2, 2, 2}, {2, 2, 2, 2}},
         1,
         {{0, 2}, {2, 2}}},
    };
    for (const DecimationCase& c : cases) {
        HistoryFile file;
        file.begin();
        for (const TiRow& row : c.rows) {
            file.ti(17, kT0 + row.second, row.last, row.min, row.max);
        }
        file.ti(18, kT0 + 1, 100, 100, 100);  // another point never mixes in
        file.commit();
        HistoryReader reader(file.path());
        const PointHistory history =
            reader.readPoint({PointKind::Ti, 17}, {kT0 * kSecond, (kT0 + 4) * kSecond}, c.buckets);
        EXPECT_EQ(history.samples, shifted(c.expected)) << c.name;
        EXPECT_EQ(history.lastMac, "00-00-00-00-00-01") << c.name;
    }
}

TEST(HistoryReader, SpanIsHalfOpenOnWholeSeconds) {
    HistoryFile file;
    for (std::int64_t s = 0; s < 6; ++s) {
        file.ti(1, kT0 + s, static_cast<double>(s), static_cast<double>(s), static_cast<double>(s));
    }
    HistoryReader reader(file.path());
    // From just after second 1 to exactly second 4: seconds 2 and 3.
    const PointHistory history =
        reader.readPoint({PointKind::Ti, 1}, {(kT0 + 1) * kSecond + 1, (kT0 + 4) * kSecond}, 100);
    EXPECT_EQ(history.samples, shifted({{2, 2}, {3, 3}}));
}

TEST(HistoryReader, TsChangesBecomeStateLevels) {
    HistoryFile file;
    file.ts(5, kT0 * kSecond + 100, 0x01);         // one-position on
    file.ts(5, kT0 * kSecond + 200, 0x00, "AA");   // off
    file.ts(5, kT0 * kSecond + 300, 0x04 | 0x02);  // two-position "вкл"
    HistoryReader reader(file.path());
    const PointHistory history =
        reader.readPoint({PointKind::Ts, 5}, {kT0 * kSecond, (kT0 + 1) * kSecond}, 1'000'000);
    const std::vector<TrendSample> expected = {
        {kT0 * kSecond + 100, 1}, {kT0 * kSecond + 200, 0}, {kT0 * kSecond + 300, 2}};
    EXPECT_EQ(history.samples, expected);
    EXPECT_EQ(history.lastFlags, 0x06);
    EXPECT_EQ(history.lastMac, "00-00-00-00-00-01");
}

TEST(HistoryReader, TsLevelTable) {
    const struct {
        int flags;
        int level;
    } cases[] = {{0x00, 0}, {0x01, 1}, {0x02, 0}, {0x03, 1}, {0x04, 0},
                 {0x05, 1}, {0x06, 2}, {0x07, 3}, {0xF7, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(tsLevel(c.flags), c.level) << c.flags;
    }
}

TEST(HistoryReader, DeviceEventsOfTheGivenDevicesInTheSpanOldestFirst) {
    HistoryFile file;
    file.event(50, "B", "restart");
    file.event(10, "A", "silent");
    file.event(30, "A", "missed", 4);
    file.event(20, "C", "restart");   // not asked for
    file.event(99, "A", "returned");  // after the span
    HistoryReader reader(file.path());
    const std::vector<StoredDeviceEvent> events = reader.deviceEvents({"A", "B"}, {0, 99});
    ASSERT_EQ(events.size(), 3U);
    EXPECT_EQ(events[0].kind, "silent");
    EXPECT_EQ(events[1].count, 4);
    EXPECT_EQ(events[2].mac, "B");
}

TEST(HistoryReader, RecordingSpansOverlappingTheSpan) {
    HistoryFile file;
    file.recording(0, 10);
    file.recording(20, 30);
    file.recording(40, 50);
    HistoryReader reader(file.path());
    const std::vector<TimeSpan> expected = {{20, 30}, {40, 50}};
    EXPECT_EQ(reader.recordingSpans({25, 45}), expected);
}

TEST(HistoryReader, MissingFileReadsAsEmptyAndIsFoundOnceCreated) {
    HistoryFile file;
    const std::string later = file.path() + ".later";
    HistoryReader reader(later);
    EXPECT_TRUE(reader.readPoint({PointKind::Ti, 1}, {0, kT0 * kSecond}, 10).samples.empty());
    EXPECT_FALSE(reader.lastError().empty());

    file.ti(1, kT0 - 1, 3, 3, 3);
    file.exec("VACUUM INTO '" + later + "'");
    EXPECT_EQ(reader.readPoint({PointKind::Ti, 1}, {0, kT0 * kSecond}, 10).samples.size(), 1U);
    EXPECT_TRUE(reader.lastError().empty());
}

}  // namespace
}  // namespace qvlink
