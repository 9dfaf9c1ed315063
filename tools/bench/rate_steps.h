#pragma once

// One step of offered load: the simulator sends at a rate for a while to one receiver (the
// monitor or a bare receiver), and what came in, what was lost and what it cost is counted.

#include <cstdint>
#include <string>

#include "bare_receiver.h"
#include "monitor_under_test.h"
#include "sim_load.h"

namespace qvlink::bench {

struct StepResult {
    std::string receiver;
    std::uint64_t asked = 0;
    SimSummary sim;
    std::uint64_t handled = 0;
    std::uint64_t kernelDrops = 0;     ///< from /proc/net/udp
    std::uint64_t endpointDrops = 0;   ///< the endpoint's own count (SO_RXQ_OVFL); monitor only
    double cpuSeconds = 0.0;           ///< whole process for the monitor, the thread for a bare one
    double seconds = 0.0;              ///< how long the simulator sent
    std::int64_t contextSwitches = 0;  ///< monitor process only
    int tracePaints = 0;
    double longestTickGap = 0.0;

    double handledRate() const { return seconds > 0 ? static_cast<double>(handled) / seconds : 0; }
    double cpuPerDatagramUs() const {
        return handled > 0 ? cpuSeconds * 1e6 / static_cast<double>(handled) : 0.0;
    }
    double switchesPerDatagram() const {
        return handled > 0 ? static_cast<double>(contextSwitches) / static_cast<double>(handled)
                           : 0.0;
    }
    double coreShare() const { return seconds > 0 ? cpuSeconds / seconds : 0.0; }
};

/// Sends `load` (its port is set here) to the monitor and waits until its socket is empty.
StepResult runMonitorStep(MonitorUnderTest& monitor, SimLoad load);
/// The same traffic to a fresh bare receiver of `kind`.
StepResult runBareStep(BareKind kind, SimLoad load);
/// The same traffic to a receiver that only counts on the GUI thread's event loop (CPU of the
/// whole process, as for the monitor, which stays idle meanwhile).
StepResult runQtLoopStep(SimLoad load);

/// Receive buffer the monitor asks for; the bare receivers ask for the same.
int monitorReceiveBuffer();

}  // namespace qvlink::bench
