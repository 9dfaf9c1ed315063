// Random bytes at the bus port while the real windows run with tracing on: the devices that
// speak the protocol are still counted exactly, memory stays bounded, the tables and the trace
// keep their shape, and the GUI thread never stalls.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/monitor_fixture.h"
#include "fault_support.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// The first second fills the trace and warms the windows' caches; resident memory is
/// measured over the rest.
constexpr auto kWarmUpTime = 1s;
constexpr auto kFloodTime = 4s;
/// Datagrams per second of the whole flood; one in kValidEvery is from the well-behaved
/// device. The rate is one the monitor keeps up with, so that the kernel drops nothing.
constexpr int kFloodRate = 4000;
constexpr int kValidEvery = 10;
/// The well-behaved device: its address is outside the range the random datagrams use.
constexpr std::uint32_t kValidAddress = 0xABCDEF;
constexpr char kValidSender[] = "127.0.0.3";

struct FloodCount {
    std::atomic<std::uint32_t> valid{0};
    std::atomic<std::uint32_t> random{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<bool> warmedUp{false};
    std::atomic<bool> done{false};
};

/// Sends the flood at kFloodRate for kFloodTime: random datagrams from 127.0.0.2 and, every
/// kValidEvery-th, a TS report of the valid device with the next sequence number.
void flood(int port, FloodCount& count) {
    test::LoopbackUdpSocket noise("127.0.0.2");
    test::LoopbackUdpSocket device(kValidSender);
    test::RandomDatagrams random(20261209);
    const auto start = Clock::now();
    const auto period = std::chrono::nanoseconds(1s) / kFloodRate;
    for (std::uint32_t i = 0; Clock::now() - start < kFloodTime; ++i) {
        count.warmedUp = Clock::now() - start >= kWarmUpTime;
        if (i % kValidEvery == 0) {
            const auto seq = static_cast<std::uint8_t>(count.valid.load());
            device.sendTo(port, test::busDatagram(17, kValidAddress, seq, kClassTs, kSubtypeCyclic,
                                                  {1, 0, 1}));
            ++count.valid;
        } else {
            std::vector<std::uint8_t> bytes = random.next();
            if (bytes.size() > kOffsetDeviceType + 1 && bytes[0] == kMagic0) {
                bytes[kOffsetDeviceType + 1] &= 0x7F;  // never the valid device's address
            }
            noise.sendTo(port, bytes);
            count.bytes += bytes.size();
            ++count.random;
        }
        std::this_thread::sleep_until(start + period * (i + 1));  // pacing of the load
    }
    count.done = true;
}

template <typename Entry>
void expectSoundEntry(const TFMain& window, int number, bool found, const Entry& entry) {
    if (number < 1 || number > kPointCount) {
        EXPECT_FALSE(found) << number;
        return;
    }
    if (!found) {
        return;
    }
    TDevice source;
    EXPECT_EQ(entry.number, number);
    EXPECT_EQ(entry.macAddr.size(), 17U);
    EXPECT_TRUE(window.registry().findDeviceByMac(entry.macAddr, source)) << entry.macAddr;
}

TEST(UdpFlood, RandomBytesLeaveTheValidDeviceCountedExactlyAndTheTablesSound) {
    test::Monitor monitor;
    TFMain& window = *monitor.main;
    window.BOpenTraceClick();
    ASSERT_TRUE(monitor.trace->isVisible() && monitor.trace->ChActive->isChecked());
    window.TimerSync->start();  // the refresh runs as in the program
    FloodCount count;
    std::thread sender(flood, monitor.busPort(), std::ref(count));
    Clock::duration longestStall{};
    std::int64_t residentBefore = 0;
    while (!count.done) {
        if (residentBefore == 0 && count.warmedUp) {
            residentBefore = test::residentBytes();
        }
        const auto before = Clock::now();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        longestStall = std::max(longestStall, Clock::now() - before);
    }
    sender.join();

    const std::string validMac = "FA:CE:11:AB:CD:EF";
    TDevice valid;
    const auto validTotal = [&] {
        return window.registry().findDeviceByMac(validMac, valid) ? valid.total : 0U;
    };
    const std::uint64_t dropped = window.UdpServer.droppedDatagrams();
    // With no drop every valid datagram arrives; otherwise wait only as long as it takes.
    test::processEventsUntil([&] { return validTotal() == count.valid; }, dropped == 0 ? 20s : 3s);
    const std::int64_t growth = test::residentBytes() - residentBefore;

    ASSERT_TRUE(window.registry().findDeviceByMac(validMac, valid));
    EXPECT_EQ(valid.ipAddr, kValidSender);
    EXPECT_EQ(valid.restarts, 0);
    if (window.UdpServer.droppedDatagrams() == 0) {
        EXPECT_EQ(valid.total, count.valid);
        EXPECT_EQ(valid.missed, 0);
    } else {
        EXPECT_GE(valid.total + window.UdpServer.droppedDatagrams(), count.valid);
        EXPECT_LE(valid.missed, window.UdpServer.droppedDatagrams());
    }
    for (int number = -1; number <= kPointCount + 1; ++number) {
        TTs ts;
        TTi ti;
        expectSoundEntry(window, number, window.tables().getTs(number, ts), ts);
        expectSoundEntry(window, number, window.tables().getTi(number, ti), ti);
    }
    const int traceRows = monitor.trace->GridTrace->RowCount();
    EXPECT_LE(traceRows, TraceLog::kMaxRowCount);
    EXPECT_EQ(traceRows, TraceLog::kMaxRowCount) << "the flood fills the trace";
    EXPECT_LT(growth, test::kResidentGrowthBound);
    EXPECT_LT(longestStall, 1s);
    test::printFigure(
        "udp flood %.0f s: %u random datagrams (%.1f MB) + %u valid, %u valid counted, "
        "%llu dropped by the kernel, %d devices registered, %d trace rows",
        std::chrono::duration<double>(kFloodTime).count(), count.random.load(),
        test::megabytes(static_cast<std::int64_t>(count.bytes.load())), count.valid.load(),
        valid.total, static_cast<unsigned long long>(window.UdpServer.droppedDatagrams()),
        window.registry().deviceCount(), traceRows);
    test::printFigure(
        "udp flood: RSS growth %.2f MB after the first second, longest GUI stall "
        "%.1f ms",
        test::megabytes(growth), test::milliseconds(longestStall));
}

}  // namespace
}  // namespace qvlink
