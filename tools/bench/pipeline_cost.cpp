#include "pipeline_cost.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "event_loop.h"
#include "load_traffic.h"
#include "monitor_under_test.h"
#include "process_stats.h"
#include "ui/frame_pacer.h"
#include "ui/grid_view.h"

namespace qvlink::bench {
namespace {

constexpr int kDevices = 29;
constexpr int kDatagrams = 20'000;
constexpr int kRounds = 5;
/// The trace window's most frames a second.
constexpr double kTraceFrames = 25.0;
constexpr int kFrames = 120;

/// Least thread CPU per call of `work` over the rounds, in microseconds.
template <typename Work>
double leastMicros(int calls, Work work) {
    double least = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const std::int64_t start = threadCpuNs();
        for (int i = 0; i < calls; ++i) {
            work(i);
        }
        least = std::min(least, static_cast<double>(threadCpuNs() - start) * 1e-3 / calls);
    }
    return least;
}

/// The local time, a millisecond later at every reading: as at 1,000 datagrams a second,
/// every trace record gets a time text of its own.
LocalDateTime steppingClock() {
    static std::int64_t readings = 0;
    LocalDateTime time = systemLocalTime();
    const std::int64_t ms = ++readings;
    time.msec = static_cast<int>(ms % 1000);
    time.second = static_cast<int>(ms / 1000 % 60);
    time.minute = static_cast<int>(ms / 60'000 % 60);
    return time;
}

}  // namespace

PipelineCost measurePipelineCost() {
    const std::vector<Datagram> traffic = simulatorLoadTraffic(kDevices, kDatagrams);
    MonitorUnderTest monitor(steppingClock);
    TFMain& main = monitor.main();
    main.TimerSync->stop();
    UdpBinding binding;
    const auto receive = [&](int i) {
        const Datagram& datagram = traffic[static_cast<std::size_t>(i) % traffic.size()];
        binding.SenderIP = datagram.senderIp;
        main.UdpServerUDPRead(main.UdpServer, datagram.bytes, binding);
    };
    PipelineCost cost;
    cost.hiddenUs = leastMicros(kDatagrams, receive);

    monitor.setTraceShown(true);
    runEventsFor(100);
    cost.tracedUs = leastMicros(kDatagrams, receive);

    auto* pacer = monitor.trace().findChild<FramePacer*>();
    const auto frameAfter = [&](int records) {
        return leastMicros(kFrames,
                           [&](int frame) {
                               for (int i = 0; i < records; ++i) {
                                   receive(frame * records + i);
                               }
                               monitor.trace().GridTrace->viewport()->update();
                               pacer->releaseHeldFrame();
                           }) *
               1e-3;
    };
    const double receiving = cost.tracedUs * 1e-3;
    cost.quietFrameMs = frameAfter(4) - 4 * receiving;
    cost.busyFrameMs = frameAfter(40) - 40 * receiving;
    cost.tracedAt1000 = 1000.0 * cost.tracedUs * 1e-6 + kTraceFrames * cost.busyFrameMs * 1e-3;
    main.TimerSync->start();
    return cost;
}

}  // namespace qvlink::bench
