#include "history/history_location.h"

#include <gtest/gtest.h>

#include "history_test_support.h"

namespace qvlink {
namespace {

TEST(HistoryLocation, DefaultFileFollowsTheDataHomeRules) {
    struct Row {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    for (const Row& row : {
             Row{"/data", "/home/u", "/data/qvlink-monitor/history.sqlite3"},
             Row{nullptr, "/home/u", "/home/u/.local/share/qvlink-monitor/history.sqlite3"},
             Row{"", "/home/u", "/home/u/.local/share/qvlink-monitor/history.sqlite3"},
             Row{"relative/dir", "/home/u", "/home/u/.local/share/qvlink-monitor/history.sqlite3"},
             Row{nullptr, nullptr, ""},
         }) {
        EXPECT_EQ(defaultHistoryPath(row.xdg, row.home), row.expected)
            << (row.xdg ? row.xdg : "unset");
    }
}

TEST(HistoryLocation, FurtherMonitorsNumberTheirFileBeforeTheExtension) {
    EXPECT_EQ(numberedHistoryPath("/d/history.sqlite3", 2), "/d/history-2.sqlite3");
    EXPECT_EQ(numberedHistoryPath("/d/my.hist.db", 3), "/d/my.hist-3.db");
    EXPECT_EQ(numberedHistoryPath("/d.x/history", 2), "/d.x/history-2");
    EXPECT_EQ(numberedHistoryPath("/d/.history", 2), "/d/.history-2");
}

TEST(HistoryLocation, AClaimIsExclusiveUntilReleased) {
    test::TempFolder folder;
    const std::string path = folder.file("h.sqlite3");
    HistoryFileLock first;
    HistoryFileLock second;
    ASSERT_TRUE(first.tryClaim(path));
    EXPECT_FALSE(second.tryClaim(path));
    EXPECT_TRUE(second.tryClaim(folder.file("other.sqlite3")));
    first.release();
    EXPECT_TRUE(second.tryClaim(path));
}

}  // namespace
}  // namespace qvlink
