#include "history/history_recorder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "faulty_vfs.h"
#include "history_test_support.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using test::HistoryFileReader;
using test::TempFolder;

constexpr std::int64_t kSecond = 1'000'000;
/// Recent times: the recorder prunes what is older than its retention.
const std::int64_t kStart = systemEpochMicros() / kSecond * kSecond;
constexpr auto kDeadline = 20s;

/// Collects the recorder's notices from its writer thread.
class Notices {
public:
    HistoryRecorder::Notice callback() {
        return [this](const std::string& text, bool needsAttention) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_texts.push_back((needsAttention ? "! " : "  ") + text);
            m_changed.notify_all();
        };
    }
    /// Waits until a notice contains `part`; false at the deadline.
    bool waitFor(const std::string& part) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kDeadline, [&] { return countLocked(part) > 0; });
    }
    int count(const std::string& part) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return countLocked(part);
    }

private:
    int countLocked(const std::string& part) const {
        int found = 0;
        for (const std::string& text : m_texts) {
            found += text.find(part) != std::string::npos ? 1 : 0;
        }
        return found;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
};

HistoryOptions fastOptions(const std::string& path) {
    HistoryOptions options;
    options.path = path;
    options.commitPeriod = 20ms;
    return options;
}

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TsChange tsChange(int point, std::int64_t rxUs) {
    return TsChange{point, rxUs, std::nullopt, "FA:CE:00:00:00:01", 1, 1};
}

TEST(HistoryRecorder, RecordsIntoTheFileAndCreatesItsFolder) {
    TempFolder folder;
    const std::string path = folder.file("data/qvlink-monitor/history.sqlite3");
    {
        HistoryRecorder recorder(fastOptions(path), nullptr);
        recorder.recordTsChange(tsChange(3, kStart));
        recorder.recordTiValue(4, kStart, "FA:CE:00:00:00:01", 2.5F);
        recorder.recordEvent({DeviceEventKind::FirstSeen, "FA:CE:00:00:00:01", 1, "ip", "", 0, 1});
    }
    const HistoryFileReader reader(path);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ts_change"), 1);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ti_second"), 1);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM device_event"), 1);
}

TEST(HistoryRecorder, BackPressureFoldsOnlyTiSecondsAndKeepsEnqueueingFast) {
    TempFolder folder;
    const std::string path = folder.file("h.sqlite3");
    constexpr int kValues = 100'000;
    constexpr int kTsChanges = 1000;
    constexpr int kEvents = 100;
    std::chrono::nanoseconds slowestCall{0};
    RecorderCounters counters;
    {
        HistoryRecorder recorder(fastOptions(path), nullptr);
        ASSERT_TRUE(waitUntil([&] { return !recorder.activePath().empty(); }));
        // Another connection holds the write lock: the writer's commits wait on it.
        sqlite3* blocker = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &blocker), SQLITE_OK);
        sqlite3_busy_timeout(blocker, 10'000);
        ASSERT_EQ(sqlite3_exec(blocker, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

        for (int i = 0; i < kValues; ++i) {
            const int point = 1 + i % kPointCount;
            const std::int64_t rxUs = kStart + (i / kPointCount) * kSecond;
            const auto before = std::chrono::steady_clock::now();
            recorder.recordTiValue(point, rxUs, "FA:CE:00:00:00:01", static_cast<float>(i));
            if (i % (kValues / kTsChanges) == 0) {
                recorder.recordTsChange(tsChange(point, rxUs));
            }
            if (i % (kValues / kEvents) == 0) {
                recorder.recordEvent({DeviceEventKind::Missed, "m", 1, "ip", "", i, rxUs});
            }
            slowestCall = std::max(slowestCall, std::chrono::steady_clock::now() - before);
        }
        counters = recorder.counters();
        sqlite3_exec(blocker, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(blocker);
    }
    // The writer retries its commit for 250 ms at a time: a call that waited for it would
    // wait that long, while folding takes well under a millisecond (the rest of a slow call
    // is the scheduler of a shared machine, or a sanitizer).
    EXPECT_LT(slowestCall, 200ms);
    EXPECT_GT(counters.foldedTiSeconds, 0U);
    EXPECT_EQ(counters.lostTsChanges, 0U);
    EXPECT_EQ(counters.lostEvents, 0U);

    const HistoryFileReader reader(path);
    EXPECT_EQ(reader.integer("SELECT sum(count) FROM ti_second"), kValues);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ti_second") +
                  static_cast<std::int64_t>(counters.foldedTiSeconds),
              kValues);
    EXPECT_EQ(reader.integer("SELECT max(max) FROM ti_second"), kValues - 1);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM ts_change"), kTsChanges);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM device_event"), kEvents);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM recording_loss"), 0);
}

TEST(HistoryRecorder, ChangesBeyondTheBoundAreCountedAndLeaveALossRow) {
    TempFolder folder;
    const std::string path = folder.file("h.sqlite3");
    Notices notices;
    RecorderCounters counters;
    {
        HistoryOptions options = fastOptions(path);
        options.changeCapacity = 10;
        HistoryRecorder recorder(options, notices.callback());
        ASSERT_TRUE(waitUntil([&] { return !recorder.activePath().empty(); }));
        sqlite3* blocker = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &blocker), SQLITE_OK);
        sqlite3_busy_timeout(blocker, 10'000);
        ASSERT_EQ(sqlite3_exec(blocker, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        for (int i = 0; i < 25; ++i) {
            recorder.recordTsChange(tsChange(1, kStart + i));
        }
        counters = recorder.counters();
        sqlite3_exec(blocker, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(blocker);
        ASSERT_TRUE(notices.waitFor("не записано изменений ТС: "));
    }
    const HistoryFileReader reader(path);
    const std::int64_t written = reader.integer("SELECT count(*) FROM ts_change");
    EXPECT_EQ(written + static_cast<std::int64_t>(counters.lostTsChanges), 25);
    EXPECT_GE(counters.lostTsChanges, 5U);
    EXPECT_EQ(reader.integer("SELECT sum(lost_ts) FROM recording_loss"),
              static_cast<std::int64_t>(counters.lostTsChanges));
}

struct UnusableCase {
    const char* name;
    std::function<void(const std::string& path)> spoil;
};

class UnusableFile : public ::testing::TestWithParam<UnusableCase> {};

TEST_P(UnusableFile, IsMovedAsideWithOneNoticeAndAFreshFileRecords) {
    TempFolder folder;
    const std::string path = folder.file("history.sqlite3");
    GetParam().spoil(path);
    Notices notices;
    {
        HistoryRecorder recorder(fastOptions(path), notices.callback());
        recorder.recordTsChange(tsChange(8, kStart));
        ASSERT_TRUE(notices.waitFor("перемещён"));
    }
    EXPECT_EQ(notices.count("! Файл истории " + path + " повреждён или не открывается"), 1);
    int asides = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        asides += entry.path().filename().string().starts_with("history.sqlite3.corrupt-") ? 1 : 0;
    }
    EXPECT_EQ(asides, 1);
    const HistoryFileReader reader(path);
    EXPECT_EQ(reader.integer("SELECT point FROM ts_change"), 8);
}

INSTANTIATE_TEST_SUITE_P(
    HistoryRecorderFaults, UnusableFile,
    ::testing::Values(
        UnusableCase{
            "NotADatabase",
            [](const std::string& path) { std::ofstream(path) << std::string(4096, 'x'); }},
        UnusableCase{"DamagedHeader",
                     [](const std::string& path) {
                         {
                             HistoryStore store;
                             store.open(path, kStart);
                         }
                         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
                         file.seekp(0);
                         file << "SQLite formax 3";
                     }},
        UnusableCase{"AFolderInItsPlace",
                     [](const std::string& path) { std::filesystem::create_directories(path); }}),
    [](const ::testing::TestParamInfo<UnusableCase>& info) {
        return std::string(info.param.name);
    });

TEST(HistoryRecorderFaults, ASecondMonitorOnTheSameFileRecordsBesideIt) {
    TempFolder folder;
    const std::string path = folder.file("history.sqlite3");
    Notices notices;
    {
        HistoryRecorder first(fastOptions(path), nullptr);
        ASSERT_TRUE(waitUntil([&] { return !first.activePath().empty(); }));
        HistoryRecorder second(fastOptions(path), notices.callback());
        ASSERT_TRUE(waitUntil([&] { return !second.activePath().empty(); }));
        EXPECT_EQ(first.activePath(), path);
        EXPECT_EQ(second.activePath(), folder.file("history-2.sqlite3"));
        first.recordTsChange(tsChange(1, kStart));
        second.recordTsChange(tsChange(2, kStart));
    }
    EXPECT_EQ(notices.count("занят другим экземпляром монитора"), 1);
    EXPECT_EQ(HistoryFileReader(path).integer("SELECT point FROM ts_change"), 1);
    EXPECT_EQ(
        HistoryFileReader(folder.file("history-2.sqlite3")).integer("SELECT point FROM ts_change"),
        2);
}

TEST(HistoryRecorderFaults, AFullDiskPausesWithANoticeAndResumesWithoutLosingTheBatch) {
    std::atomic<bool>& diskFull = test::registerFaultyVfs();
    TempFolder folder;
    const std::string path = folder.file("h.sqlite3");
    Notices notices;
    {
        HistoryOptions options = fastOptions(path);
        options.vfs = test::kFaultyVfsName;
        HistoryRecorder recorder(options, notices.callback());
        ASSERT_TRUE(waitUntil([&] { return !recorder.activePath().empty(); }));
        diskFull = true;
        recorder.recordTsChange(tsChange(6, kStart));
        ASSERT_TRUE(notices.waitFor("! Запись истории приостановлена (диск заполнен)"));
        recorder.recordTsChange(tsChange(7, kStart + 1));
        diskFull = false;
        ASSERT_TRUE(notices.waitFor("Запись истории возобновлена"));
    }
    EXPECT_EQ(notices.count("приостановлена"), 1);
    const HistoryFileReader reader(path);
    EXPECT_EQ(reader.text("SELECT group_concat(point, ' ') FROM ts_change"), "6 7");
}

TEST(HistoryRecorderFaults, KillNineLosesAtMostTheLastSecond) {
    TempFolder folder;
    const std::string path = folder.file("h.sqlite3");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HistoryOptions options;  // the monitor's own commit period
        options.path = path;
        HistoryRecorder recorder(options, nullptr);
        for (int i = 0;; ++i) {
            recorder.recordTsChange(tsChange(1 + i % kPointCount, systemEpochMicros()));
            std::this_thread::sleep_for(1ms);
        }
    }
    const std::int64_t started = systemEpochMicros();
    const bool recording = waitUntil([&] {
        return std::filesystem::exists(path) &&
               HistoryFileReader(path).integer("SELECT max(rx_us) FROM ts_change") >
                   started + 2 * kSecond;
    });
    const std::int64_t killedAt = systemEpochMicros();
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(recording);

    const HistoryFileReader reader(path);
    EXPECT_EQ(reader.text("PRAGMA integrity_check"), "ok");
    // One commit period, plus scheduling slack on a loaded machine.
    EXPECT_GE(reader.integer("SELECT max(rx_us) FROM ts_change"), killedAt - 3 * kSecond / 2);
    EXPECT_EQ(reader.integer("SELECT count(*) FROM recording"), 1);
}

}  // namespace
}  // namespace qvlink
