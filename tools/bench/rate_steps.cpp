#include "rate_steps.h"

#include "event_loop.h"
#include "net/udp_server.h"
#include "process_stats.h"
#include "qt_loop_receiver.h"

namespace qvlink::bench {
namespace {

/// Longest wait for a receiver to empty its socket after the simulator stopped.
constexpr int kDrainLimitMs = 10000;

/// Waits until the socket on `port` is empty and `count()` has stopped moving.
template <typename Count>
void waitUntilDrained(int port, Count count) {
    std::uint64_t last = count();
    runEventsUntil(
        [&] {
            const std::uint64_t now = count();
            const bool settled = now == last;
            last = now;
            const std::optional<KernelUdpStats> stats = kernelUdpStats(port);
            return settled && (!stats || stats->receiveQueueBytes == 0);
        },
        kDrainLimitMs, 20);
}

double loadSeconds(const SimSummary& summary) {
    return summary.rate > 0 ? static_cast<double>(summary.sent) / summary.rate : 0.0;
}

}  // namespace

int monitorReceiveBuffer() {
    return UdpServer::kDefaultReceiveBufferRequest;
}

StepResult runMonitorStep(MonitorUnderTest& monitor, SimLoad load) {
    load.port = monitor.port();
    StepResult result;
    result.receiver = "monitor";
    result.asked = load.rate;
    const std::uint64_t handledBefore = monitor.handled();
    const std::uint64_t dropsBefore = monitor.kernelStats().drops;
    const std::uint64_t endpointBefore = monitor.main().UdpServer.droppedDatagrams();
    monitor.resetObservations();
    CpuSpan span;
    result.sim = runSimLoad(load);
    waitUntilDrained(load.port, [&] { return monitor.handled(); });
    span.stop();
    result.handled = monitor.handled() - handledBefore;
    result.kernelDrops = monitor.kernelStats().drops - dropsBefore;
    result.endpointDrops = monitor.main().UdpServer.droppedDatagrams() - endpointBefore;
    result.cpuSeconds = span.cpuSeconds();
    result.contextSwitches = span.contextSwitches();
    result.seconds = loadSeconds(result.sim);
    result.tracePaints = monitor.tracePaints();
    result.longestTickGap = monitor.longestTickGapSeconds();
    return result;
}

StepResult runQtLoopStep(SimLoad load) {
    QtLoopReceiver receiver(monitorReceiveBuffer());
    load.port = receiver.port();
    StepResult result;
    result.receiver = "Qt loop only";
    result.asked = load.rate;
    CpuSpan span;
    result.sim = runSimLoad(load);
    waitUntilDrained(load.port, [&] { return receiver.received(); });
    span.stop();
    result.handled = receiver.received();
    result.kernelDrops = kernelUdpStats(load.port).value_or(KernelUdpStats{}).drops;
    result.cpuSeconds = span.cpuSeconds();
    result.contextSwitches = span.contextSwitches();
    result.seconds = loadSeconds(result.sim);
    return result;
}

StepResult runBareStep(BareKind kind, SimLoad load) {
    BareReceiver receiver(kind, monitorReceiveBuffer());
    load.port = receiver.port();
    StepResult result;
    result.receiver = bareKindName(kind);
    result.asked = load.rate;
    result.sim = runSimLoad(load);
    waitUntilDrained(load.port, [&] { return receiver.received(); });
    result.kernelDrops = kernelUdpStats(load.port).value_or(KernelUdpStats{}).drops;
    receiver.stop();
    result.handled = receiver.received();
    result.cpuSeconds = receiver.cpuSeconds();
    result.seconds = loadSeconds(result.sim);
    return result;
}

}  // namespace qvlink::bench
