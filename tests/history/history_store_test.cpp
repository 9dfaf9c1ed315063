#include "history/history_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faulty_vfs.h"
#include "history_test_support.h"

namespace qvlink {
namespace {

using test::HistoryFileReader;
using test::TempFolder;

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kHour = 3600 * kSecond;
constexpr std::int64_t kDay = 24 * kHour;
constexpr std::int64_t kStart = 1'700'000'000 * kSecond;

struct ColumnCase {
    const char* table;
    const char* columns;  // name:notnull:pk, in order
};

class HistorySchema : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(HistorySchema, TablesHaveTheAgreedColumns) {
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart), StoreStatus::Ok);
    const HistoryFileReader reader(folder.file("h.sqlite3"));
    const std::string columns = reader.text(
        std::string("SELECT group_concat(name || ':' || \"notnull\" || ':' || pk, ' ') FROM "
                    "pragma_table_info('") +
        GetParam().table + "')");
    EXPECT_EQ(columns, GetParam().columns);
}

INSTANTIATE_TEST_SUITE_P(
    HistoryStore, HistorySchema,
    ::testing::Values(
        ColumnCase{"ts_change", "point:1:0 rx_us:1:0 tag_us:0:0 mac:1:0 state:1:0 flags:1:0"},
        ColumnCase{"ti_second", "point:1:1 second:1:2 last:1:0 min:1:0 max:1:0 count:1:0 mac:1:0"},
        ColumnCase{"device_event", "time_us:1:0 mac:1:0 kind:1:0 count:1:0 ip:0:0 previous_ip:0:0"},
        ColumnCase{"recording", "start_us:1:0 stop_us:1:0"},
        ColumnCase{"recording_loss", "time_us:1:0 lost_ts:1:0 lost_events:1:0"}),
    [](const ::testing::TestParamInfo<ColumnCase>& info) { return std::string(info.param.table); });

TEST(HistoryStore, WritesInWalModeWithTheLookUpIndexesAndARecordingSpan) {
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart), StoreStatus::Ok);
    RecordBatch batch;
    batch.tsChanges.push_back({5, kStart + 10, kStart - 3, "FA:CE:00:00:00:01", 2, 0x06});
    batch.tsChanges.push_back({5, kStart + 20, std::nullopt, "FA:CE:00:00:00:01", 1, 0x05});
    batch.events.push_back(
        {DeviceEventKind::IpChanged, "FA:CE:00:00:00:01", 16, "10.0.0.2", "10.0.0.1", 0, kStart});
    batch.lostTsChanges = 3;
    ASSERT_EQ(store.write(batch, kStart + kSecond), StoreStatus::Ok);

    const HistoryFileReader reader(folder.file("h.sqlite3"));
    EXPECT_EQ(reader.text("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(reader.text("SELECT group_concat(name, ' ') FROM sqlite_master WHERE type = "
                          "'index' AND name NOT LIKE 'sqlite_%'"),
              "ts_change_point_time device_event_mac_time");
    EXPECT_EQ(reader.text("SELECT group_concat((rx_us - 1700000000000000) || '/' || "
                          "ifnull(tag_us - 1700000000000000, 'null') || '/' || state || '/' || "
                          "flags, ' ') FROM ts_change"),
              "10/-3/2/6 20/null/1/5");
    EXPECT_EQ(reader.text("SELECT kind || ' ' || ip || ' ' || previous_ip FROM device_event"),
              "ip_changed 10.0.0.2 10.0.0.1");
    EXPECT_EQ(reader.integer("SELECT lost_ts FROM recording_loss"), 3);
    EXPECT_EQ(reader.integer("SELECT stop_us - start_us FROM recording"), kSecond);
}

TEST(HistoryStore, ASecondSplitAcrossCommitsIsOneExactRow) {
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart), StoreStatus::Ok);
    RecordBatch first;
    first.tiSeconds.push_back({9, 1'700'000'000, 5.0, -1.0, 5.0, 3, "a"});
    ASSERT_EQ(store.write(first, kStart), StoreStatus::Ok);
    RecordBatch second;
    second.tiSeconds.push_back({9, 1'700'000'000, 2.0, 0.5, 7.5, 2, "b"});
    ASSERT_EQ(store.write(second, kStart), StoreStatus::Ok);

    const HistoryFileReader reader(folder.file("h.sqlite3"));
    EXPECT_EQ(reader.text("SELECT group_concat(last || ' ' || min || ' ' || max || ' ' || count "
                          "|| ' ' || mac) FROM ti_second"),
              "2.0 -1.0 7.5 5 b");
}

/// One row of every kind every six hours over eight days.
void writeEightDays(HistoryStore& store) {
    for (std::int64_t t = kStart; t < kStart + 8 * kDay; t += 6 * kHour) {
        RecordBatch batch;
        batch.tsChanges.push_back({1, t, std::nullopt, "m", 1, 1});
        batch.tiSeconds.push_back({1, t / kSecond, 1.0, 1.0, 1.0, 1, "m"});
        batch.events.push_back({DeviceEventKind::Silent, "m", 1, "ip", "", 0, t});
        batch.lostEvents = 1;
        ASSERT_EQ(store.write(batch, t), StoreStatus::Ok);
    }
}

TEST(HistoryRetention, EightDaysOfRowsLoseTheirFirstDayAndKeepTheRest) {
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart), StoreStatus::Ok);
    writeEightDays(store);
    const std::int64_t now = kStart + 8 * kDay;
    bool more = true;
    for (int step = 0; more && step < 100; ++step) {
        ASSERT_EQ(store.pruneStep(RetentionLimits{}, now, more), StoreStatus::Ok);
    }
    EXPECT_FALSE(more);

    const HistoryFileReader reader(folder.file("h.sqlite3"));
    const std::int64_t cutoff = now - 7 * kDay;
    for (const char* query : {"SELECT count(*) || ' ' || min(rx_us) FROM ts_change",
                              "SELECT count(*) || ' ' || (min(second) * 1000000) FROM ti_second",
                              "SELECT count(*) || ' ' || min(time_us) FROM device_event",
                              "SELECT count(*) || ' ' || min(time_us) FROM recording_loss"}) {
        EXPECT_EQ(reader.text(query), "28 " + std::to_string(cutoff)) << query;
    }
    EXPECT_EQ(reader.integer("SELECT count(*) FROM recording"), 1);
}

TEST(HistoryRetention, OverTheSizeBudgetTheOldestRowsGoInSmallSteps) {
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart), StoreStatus::Ok);
    RecordBatch batch;
    for (int i = 0; i < 20'000; ++i) {
        batch.tsChanges.push_back(
            {1 + i % 500, kStart + i, std::nullopt, "FA:CE:00:00:00:01", 1, 1});
    }
    ASSERT_EQ(store.write(batch, kStart), StoreStatus::Ok);
    const RetentionLimits limits{7, 256 * 1024};
    ASSERT_GT(store.dataBytes(), limits.maxBytes);

    bool more = false;
    ASSERT_EQ(store.pruneStep(limits, kStart, more), StoreStatus::Ok);
    const HistoryFileReader reader(folder.file("h.sqlite3"));
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ts_change"),
              20'000 - HistoryStore::kPruneStepRows);
    for (int step = 0; more && step < 100; ++step) {
        ASSERT_EQ(store.pruneStep(limits, kStart, more), StoreStatus::Ok);
    }
    EXPECT_LE(store.dataBytes(), limits.maxBytes);
    EXPECT_EQ(reader.integer("SELECT max(rx_us) - 1700000000000000 FROM ts_change"), 19'999);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM recording"), 1);
}

TEST(HistoryStoreFaults, AFullDiskFailsTheWholeBatchAndTheSameBatchSucceedsLater) {
    std::atomic<bool>& diskFull = test::registerFaultyVfs();
    TempFolder folder;
    HistoryStore store;
    ASSERT_EQ(store.open(folder.file("h.sqlite3"), kStart, test::kFaultyVfsName), StoreStatus::Ok);
    RecordBatch batch;
    for (int i = 0; i < 5000; ++i) {
        batch.tsChanges.push_back({1, kStart + i, std::nullopt, "m", 1, 1});
    }
    diskFull = true;
    EXPECT_EQ(store.write(batch, kStart), StoreStatus::Full);
    diskFull = false;
    {
        const HistoryFileReader reader(folder.file("h.sqlite3"));
        EXPECT_EQ(reader.integer("SELECT count(*) FROM ts_change"), 0);
    }
    EXPECT_EQ(store.write(batch, kStart), StoreStatus::Ok);
    const HistoryFileReader reader(folder.file("h.sqlite3"));
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ts_change"), 5000);
}

}  // namespace
}  // namespace qvlink
