#include "refresh_ticks.h"

#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "datagram_writer.h"
#include "event_loop.h"
#include "process_stats.h"

namespace qvlink::bench {
namespace {

/// Time for the frame that follows a tick: a display frame and some room.
constexpr int kFrameMs = 20;
/// Sequenced device types the synthetic devices take in turn.
constexpr std::uint8_t kTypes[] = {1, 16, 17, 18, 33, 34};

int validPoints(const TFMain& main) {
    int valid = 0;
    TTs ts;
    TTi ti;
    for (int n = 1; n <= kPointCount; ++n) {
        valid += main.tables().getTs(n, ts) ? 1 : 0;
        valid += main.tables().getTi(n, ti) ? 1 : 0;
    }
    return valid;
}

void deliver(TFMain& main, UdpBinding& binding, const sim::DatagramWriter& writer) {
    main.UdpServerUDPRead(main.UdpServer, writer.bytes(), binding);
}

std::string senderIp(int device) {
    return "10." + std::to_string(device >> 16) + "." + std::to_string((device >> 8) & 0xFF) + "." +
           std::to_string(device & 0xFF);
}

}  // namespace

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[at];
}

TickTimes timeRefreshTicks(TFMain& main, int count) {
    const bool running = main.TimerSync->isActive();
    main.TimerSync->stop();
    std::vector<double> cpu;
    std::vector<double> wall;
    std::vector<double> frame;
    for (int i = 0; i < count; ++i) {
        const std::int64_t cpuStart = threadCpuNs();
        const std::int64_t wallStart = monotonicNs();
        main.TimerSyncTimer();
        const std::int64_t cpuTick = threadCpuNs();
        wall.push_back(static_cast<double>(monotonicNs() - wallStart) * 1e-6);
        runEventsFor(kFrameMs);
        cpu.push_back(static_cast<double>(cpuTick - cpuStart) * 1e-6);
        frame.push_back(static_cast<double>(threadCpuNs() - cpuTick) * 1e-6);
    }
    if (running) {
        main.TimerSync->start();
    }
    TickTimes times;
    times.devices = main.registry().deviceCount();
    times.validPoints = validPoints(main);
    times.medianCpuMs = percentile(cpu, 0.5);
    times.p90CpuMs = percentile(cpu, 0.9);
    times.slowestCpuMs = percentile(cpu, 1.0);
    times.medianWallMs = percentile(wall, 0.5);
    times.medianFrameCpuMs = percentile(frame, 0.5);
    return times;
}

void registerSyntheticDevices(TFMain& main, int devices) {
    sim::DatagramWriter writer;
    UdpBinding binding;
    const TTimeTag tag = sim::timeTagOf(systemLocalTime());
    for (int n = 1; n <= devices; ++n) {
        const sim::DeviceIdentity identity =
            sim::makeIdentity(kTypes[static_cast<std::size_t>(n) % std::size(kTypes)], n);
        binding.SenderIP = senderIp(n);
        writer.beginSequenced(identity, kClassTime, 0);
        writer.appendTimeTag(tag);
        deliver(main, binding, writer);
    }
    const sim::DeviceIdentity first = sim::makeIdentity(kTypes[1], 1);
    binding.SenderIP = senderIp(1);
    for (const std::uint8_t msgClass : {kClassTs, kClassTi}) {
        for (int number = 1; number <= kPointCount;) {
            writer.beginSequenced(first, msgClass, kSubtypeCyclic);
            while (number <= kPointCount &&
                   (msgClass == kClassTs
                        ? writer.appendTs(static_cast<std::uint16_t>(number), 1, std::nullopt)
                        : writer.appendTi(static_cast<std::uint16_t>(number), 0,
                                          static_cast<float>(number) * 0.5F, std::nullopt))) {
                ++number;
            }
            deliver(main, binding, writer);
        }
    }
}

}  // namespace qvlink::bench
