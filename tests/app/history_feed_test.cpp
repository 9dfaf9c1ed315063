#include "app/history_feed.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/bus_reception.h"
#include "history/sqlite_statement.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::sequencedDatagram;

constexpr std::int64_t kSecond = 1'000'000;

class HistoryFeedTest : public ::testing::Test {
protected:
    HistoryFeedTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvlink-feed-XXXXXX");
        m_folder = mkdtemp(pattern.data());
        m_nowUs = systemEpochMicros() / kSecond * kSecond;
    }
    ~HistoryFeedTest() override { std::filesystem::remove_all(m_folder); }

    /// Feeds the datagrams through the pipeline into a recorder, stops it and returns the
    /// rows of `query` joined by " | ". Each datagram arrives 300 ms after the previous one.
    std::string recordAndQuery(const std::vector<std::vector<std::uint8_t>>& datagrams,
                               const char* query) {
        const std::string path = (m_folder / "h.sqlite3").string();
        {
            HistoryOptions options;
            options.path = path;
            HistoryRecorder recorder(options, nullptr);
            DeviceRegistry registry;
            TeleparamTables tables;
            BusStatistics statistics(registry);
            BusReception reception(registry, tables, statistics, steadyMilliseconds);
            reception.recordHistory(recorder, [this] { return m_nowUs; });
            for (const std::vector<std::uint8_t>& datagram : datagrams) {
                m_nowUs += 300'000;
                reception.receive(datagram.data(), datagram.size(), "10.0.0.5");
            }
        }
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        std::string rows;
        {
            SqliteStatement statement(db, query);
            while (statement.step() == SQLITE_ROW) {
                rows += (rows.empty() ? "" : " | ") + statement.columnText(0);
            }
        }
        sqlite3_close(db);
        return rows;
    }

    std::filesystem::path m_folder;
    std::int64_t m_nowUs = 0;
};

std::vector<std::uint8_t> ts(std::uint8_t seq, std::uint8_t point, std::uint8_t flags) {
    return sequencedDatagram(16, 0x0A003C, seq, kClassTs, kSubtypeSporadic, {point, 0, flags});
}

TEST_F(HistoryFeedTest, EachChangeOfStateOrFlagsIsARowAndRepeatsAreNot) {
    // Point 5: off, off again, on, on with a time tag (same signal), two-position "10",
    // then flags beyond the state bits.
    const std::vector<std::vector<std::uint8_t>> datagrams{
        ts(1, 5, 0x00),
        ts(2, 5, 0x00),
        ts(3, 5, 0x01),
        sequencedDatagram(16, 0x0A003C, 4, kClassTs, 3,
                          {5, 0, 0x09, 0xE8, 0x03, 30, 12, 9, 12, 26}),
        ts(5, 5, 0x06),
        ts(6, 5, 0x46),
        ts(7, 6, 0x01),
    };
    EXPECT_EQ(recordAndQuery(datagrams,
                             "SELECT point || ' ' || state || ' ' || flags || ' ' || mac FROM "
                             "ts_change ORDER BY rowid"),
              "5 0 0 FA:CE:10:0A:00:3C | 5 1 1 FA:CE:10:0A:00:3C | 5 2 6 FA:CE:10:0A:00:3C | "
              "5 2 70 FA:CE:10:0A:00:3C | 6 1 1 FA:CE:10:0A:00:3C");
}

TEST_F(HistoryFeedTest, ATimeTaggedChangeKeepsItsTagAndItsReceptionTime) {
    const std::int64_t start = m_nowUs;
    // 12:30:01.000 on 9 December 2026, local time.
    const std::vector<std::vector<std::uint8_t>> datagrams{sequencedDatagram(
        16, 0x0A003C, 1, kClassTs, 3, {5, 0, 0x09, 0xE8, 0x03, 30, 12, 9, 12, 26})};
    tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 9;
    local.tm_hour = 12;
    local.tm_min = 30;
    local.tm_sec = 1;
    local.tm_isdst = -1;
    const std::int64_t tagUs = static_cast<std::int64_t>(mktime(&local)) * kSecond;
    EXPECT_EQ(recordAndQuery(datagrams, "SELECT tag_us || ' ' || rx_us FROM ts_change"),
              std::to_string(tagUs) + " " + std::to_string(start + 300'000));
}

TEST_F(HistoryFeedTest, TiValuesAndDeviceEventsReachTheFile) {
    // 1.5f and 2.5f little-endian; the second datagram skips three sequence numbers.
    const std::vector<std::vector<std::uint8_t>> datagrams{
        sequencedDatagram(16, 0x0A003C, 1, kClassTi, 2, {7, 0, 0, 0, 0, 0xC0, 0x3F}),
        sequencedDatagram(16, 0x0A003C, 5, kClassTi, 2, {7, 0, 0, 0, 0, 0x20, 0x40}),
    };
    EXPECT_EQ(recordAndQuery(datagrams,
                             "SELECT (SELECT sum(count) || ' ' || min(min) || ' ' || max(max) "
                             "FROM ti_second) UNION ALL SELECT kind || ' ' || count || ' ' || ip "
                             "FROM device_event"),
              "2 1.5 2.5 | first_seen 0 10.0.0.5 | missed 3 10.0.0.5");
}

}  // namespace
}  // namespace qvlink
