#pragma once

// The cost of one refresh tick (TimerSyncTimer): the details panel and the device, TS and TI
// tables rebuilt from the registry and the point tables.

#include <vector>

namespace qvlink {
class TFMain;
}

namespace qvlink::bench {

/// The value below which `share` (0 to 1) of `values` lie: 0.5 the median, 1 the largest; 0
/// for none.
double percentile(std::vector<double> values, double share);

struct TickTimes {
    int devices = 0;
    int validPoints = 0;       ///< valid TS plus valid TI entries
    double medianCpuMs = 0.0;  ///< the tick handler on the GUI thread
    double p90CpuMs = 0.0;
    double slowestCpuMs = 0.0;  ///< usually the first: it creates the cells of new devices
    double medianWallMs = 0.0;
    double medianFrameCpuMs = 0.0;  ///< the event loop after the tick: the repaint it asked for
};

/// Runs `count` ticks by hand (the timer is held meanwhile), each followed by a frame.
TickTimes timeRefreshTicks(TFMain& main, int count);

/// Registers `devices` devices by handing one datagram of each to the reception handler,
/// and fills all 500 TS and 500 TI points from the first of them.
void registerSyntheticDevices(TFMain& main, int devices);

}  // namespace qvlink::bench
