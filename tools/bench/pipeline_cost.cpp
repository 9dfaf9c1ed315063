#include "pipeline_cost.h"

#include <cstdint>
#include <string>

#include "event_loop.h"
#include "mix_feeder.h"
#include "monitor_under_test.h"
#include "ui/frame_pacer.h"
#include "ui/grid_view.h"

namespace qvlink::bench {
namespace {

constexpr int kDevices = 29;
constexpr int kDatagrams = 20'000;
/// The trace window's most frames a second.
constexpr double kTraceFrames = 25.0;
constexpr int kFrames = 120;

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
    MonitorUnderTest monitor(steppingClock);
    TFMain& main = monitor.main();
    main.TimerSync->stop();
    MixFeeder receive(main, kDevices, kDatagrams);
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
