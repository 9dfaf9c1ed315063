// Closing the main window while datagrams pour in, twenty times over: each close returns
// promptly and nothing is delivered once the stop has begun.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/monitor_fixture.h"
#include "fault_support.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kCloses = 20;
/// 20,000 datagrams a second: always some waiting for the GUI thread when the close comes, yet
/// not so many that loopback's input queue overflows and other programs on the machine lose
/// their datagrams.
constexpr auto kSendPeriod = std::chrono::microseconds(50);

TEST(CloseUnderFlood, EveryCloseIsPromptAndNothingArrivesAfterTheStopBegan) {
    Clock::duration slowest{};
    for (int round = 0; round < kCloses; ++round) {
        SCOPED_TRACE(round);
        test::Monitor monitor;
        TFMain& window = *monitor.main;
        monitor.trace->show();
        const int port = monitor.busPort();
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            test::LoopbackUdpSocket sender("127.0.0.5");
            const auto start = Clock::now();
            for (std::uint32_t i = 0; flooding; ++i) {
                sender.sendTo(port,
                              test::busDatagram(1, 0x000005, static_cast<std::uint8_t>(i), kClassTi,
                                                kSubtypeCyclic, {1, 0, 0, 0, 0, 0x80, 0x3F}));
                std::this_thread::sleep_until(start + kSendPeriod * (i + 1));  // pacing
            }
        });
        ASSERT_TRUE(test::processEventsUntil([&] { return monitor.totalDatagrams() > 200; }, 20s));

        const std::uint32_t countedAtStop = monitor.totalDatagrams();
        const auto started = Clock::now();
        window.close();
        const auto closeTime = Clock::now() - started;
        // Deliveries that were already queued to the GUI thread when the stop began run now.
        test::processEventsUntil([] { return false; }, 50ms);
        flooding = false;
        flood.join();

        EXPECT_FALSE(window.UdpServer.isActive());
        EXPECT_EQ(monitor.totalDatagrams(), countedAtStop);
        slowest = std::max(slowest, closeTime);
    }
    EXPECT_LT(slowest, 1s);
    test::printFigure("close under flood: %d closes, slowest %.1f ms", kCloses,
                      test::milliseconds(slowest));
}

}  // namespace
}  // namespace qvlink
