// The real qvlink-monitor binary on the real bus port: it comes up, stays up under a flood of
// valid and malformed datagrams, and closes promptly and cleanly when asked to terminate.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "common/bus_types.h"
#include "history/sqlite_statement.h"
#include "support/packet_builder.h"
#include "support/udp_sender.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// True when a socket could take the bus port now; false when someone holds it or we may not.
bool busPortFree() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kBusPort);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
    ::close(fd);
    return bound;
}

/// Starts the monitor recording its history into `historyPath`.
pid_t startMonitor(const std::string& historyPath) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(QVLINK_MONITOR_PATH, QVLINK_MONITOR_PATH, "--history", historyPath.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

/// Runs the monitor with `arguments` and no display; its exit code and everything it printed.
int runMonitor(const std::string& arguments, std::string& printed) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " QVLINK_MONITOR_PATH " " +
        arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    printed.clear();
    for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        printed.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::int64_t queryHistory(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ::sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    const std::int64_t result = sqliteQueryInt(db, sql);
    ::sqlite3_close(db);
    return result;
}

bool exited(pid_t pid, int& status) {
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

TEST(MonitorBinary, ABadCommandLineExitsWithTwoAndAMessageBeforeAnyWindow) {
    std::string printed;
    EXPECT_EQ(runMonitor("--history-days 0", printed), 2) << printed;
    EXPECT_NE(printed.find("--history-days needs a whole number from 1 to 3650"), std::string::npos)
        << printed;
    EXPECT_EQ(runMonitor("--version", printed), 0);
    EXPECT_EQ(printed.rfind("qvlink-monitor ", 0), 0U) << printed;
}

TEST(MonitorBinary, StaysUpUnderAFloodAndClosesPromptlyOnTermination) {
    if (::geteuid() != 0 || !busPortFree()) {
        GTEST_SKIP() << "needs root and a free UDP port 973";
    }
    std::string folder = (std::filesystem::temp_directory_path() / "qvlink-binary-XXXXXX");
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string historyPath = folder + "/history.sqlite3";
    const pid_t monitor = startMonitor(historyPath);
    ASSERT_GT(monitor, 0);
    const auto deadline = Clock::now() + 10s;
    while (busPortFree() && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    int status = 0;
    ASSERT_FALSE(exited(monitor, status)) << "monitor ended at start-up";
    ASSERT_FALSE(busPortFree()) << "monitor did not bind the bus port";

    std::atomic<bool> flooding{true};
    std::thread flood([&flooding] {
        test::LoopbackUdpSocket sender("127.0.0.51");
        std::mt19937 random(7);
        std::uint8_t seq = 0;
        while (flooding) {
            sender.sendTo(kBusPort,
                          test::sequencedDatagram(1, 0x51, seq++, kClassTs, 2, {1, 0, 1}));
            std::vector<std::uint8_t> noise(1 + random() % 600);
            for (std::uint8_t& byte : noise) {
                byte = static_cast<std::uint8_t>(random());
            }
            sender.sendTo(kBusPort, noise);
        }
    });
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(exited(monitor, status)) << "monitor died under the flood";

    const auto asked = Clock::now();
    ::kill(monitor, SIGTERM);
    bool ended = false;
    while (!(ended = exited(monitor, status)) && Clock::now() - asked < 5s) {
        std::this_thread::sleep_for(5ms);
    }
    const auto closeTime = Clock::now() - asked;
    flooding = false;
    flood.join();
    if (!ended) {
        ::kill(monitor, SIGKILL);
        ::waitpid(monitor, &status, 0);
    }

    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_LT(closeTime, 2s);
    std::printf("[ figures  ] monitor closed %.1f ms after SIGTERM under a flood\n",
                std::chrono::duration<double, std::milli>(closeTime).count());

    // The flood's one TS point kept its state: one change, and its device seen once.
    EXPECT_EQ(queryHistory(historyPath, "SELECT count(*) FROM ts_change"), 1);
    EXPECT_EQ(
        queryHistory(historyPath, "SELECT count(*) FROM device_event WHERE kind = 'first_seen'"),
        1);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qvlink
