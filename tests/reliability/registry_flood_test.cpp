// 40,000 distinct devices at the bus port: the registry stops at its 32,768 positions, the
// program stays responsive, and a refresh tick over the full registry is measured.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "app/monitor_fixture.h"
#include "fault_support.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kDistinctDevices = 40000;
/// Datagrams sent before waiting for the monitor to take them: few enough for the kernel's
/// receive buffer, so that nothing is dropped.
constexpr int kBatch = 128;
/// A device heard first and after every batch: its count tells when a batch has been taken.
constexpr std::uint32_t kPacerAddress = 0xFFFFFF;

std::vector<std::uint8_t> silenceRequestFrom(std::uint32_t address, std::uint8_t seq) {
    return test::busDatagram(16, address, seq, kClassSilence, 0, {0xF4, 0x01});
}

TEST(RegistryFlood, StopsAtItsLastPositionAndStaysResponsive) {
    test::Monitor monitor;
    TFMain& window = *monitor.main;
    test::LoopbackUdpSocket sender("127.0.0.4");
    const int port = monitor.busPort();
    TDevice pacer;
    const auto pacerTotal = [&] {
        window.registry().getDevice(1, pacer);
        return pacer.total;
    };

    const std::int64_t residentBefore = test::residentBytes();
    const auto started = Clock::now();
    sender.sendTo(port, silenceRequestFrom(kPacerAddress, 0));
    std::uint32_t batches = 0;
    for (int device = 0; device < kDistinctDevices;) {
        for (const int end = std::min(device + kBatch, kDistinctDevices); device < end; ++device) {
            sender.sendTo(port, silenceRequestFrom(static_cast<std::uint32_t>(device), 0));
        }
        ++batches;
        sender.sendTo(port, silenceRequestFrom(kPacerAddress, static_cast<std::uint8_t>(batches)));
        ASSERT_TRUE(test::processEventsUntil([&] { return pacerTotal() == batches + 1; }, 20s))
            << "batch " << batches << ", kernel drops " << window.UdpServer.droppedDatagrams();
    }
    const auto floodTime = Clock::now() - started;

    EXPECT_EQ(window.UdpServer.droppedDatagrams(), 0U);
    EXPECT_EQ(window.registry().deviceCount(), DeviceRegistry::kMaxDevices);
    TDevice last;
    ASSERT_TRUE(window.registry().getDevice(DeviceRegistry::kMaxDevices, last));
    EXPECT_EQ(last.macAddr, "FA:CE:10:00:7F:FE")
        << "the 32,767th device of the flood took the last place";
    EXPECT_EQ(window.registry().indexOfDevice("FA:CE:10:00:7F:FF"), -1) << "no room for it";
    EXPECT_EQ(pacer.total, batches + 1) << "known devices are still counted";

    QElapsedTimer tick;
    tick.start();
    window.TimerSyncTimer();
    const qint64 tickMs = tick.elapsed();
    EXPECT_EQ(window.GridDevices->getCellText(2, DeviceRegistry::kMaxDevices), last.macAddr);

    bool eventRan = false;
    QTimer::singleShot(0, [&] { eventRan = true; });
    const auto queued = Clock::now();
    EXPECT_TRUE(test::processEventsUntil([&] { return eventRan; }, 1s));
    const auto eventDelay = Clock::now() - queued;

    test::printFigure(
        "registry flood: %d distinct devices in %.1f s, %d registered, RSS growth %.1f MB",
        kDistinctDevices + 1, std::chrono::duration<double>(floodTime).count(),
        window.registry().deviceCount(), test::megabytes(test::residentBytes() - residentBefore));
    test::printFigure(
        "registry flood: one refresh tick with a full registry took %lld ms, next "
        "GUI event after %.1f ms",
        static_cast<long long>(tickMs), test::milliseconds(eventDelay));
}

}  // namespace
}  // namespace qvlink
