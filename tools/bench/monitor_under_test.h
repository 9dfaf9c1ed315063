#pragma once

// The monitor as the program builds it, headless: the main window with its endpoint on an
// ephemeral port, the trace window, the one-second timer, the real system clock and the
// user's locale. What the benchmark reads from it goes through public handles only.

#include <QObject>
#include <cstdint>
#include <memory>

#include "app/main_window.h"
#include "kernel_udp_stats.h"
#include "trace/trace_window.h"

namespace qvlink::bench {

class MonitorUnderTest : public QObject {
public:
    /// `clock` stands for the system's local time, as the program's windows use it. With a
    /// `recorder` the monitor records its history there, as the program does by default.
    explicit MonitorUnderTest(Clock clock = systemLocalTime, HistoryRecorder* recorder = nullptr);
    ~MonitorUnderTest() override;

    TFMain& main() { return *m_main; }
    TFTrace& trace() { return *m_trace; }
    int port();

    /// Opens the trace window as its button does (tracing is on from the start), or closes it.
    void setTraceShown(bool shown);

    /// Datagrams handled by the reception pipeline: the registry's totals of all devices.
    std::uint64_t handled() const;
    /// The kernel's counters of the endpoint's socket.
    KernelUdpStats kernelStats();
    /// Trace grid paints and the longest gap between two refresh ticks since the last reset.
    int tracePaints() const { return m_tracePaints; }
    double longestTickGapSeconds() const;
    void resetObservations();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<TFMain> m_main;
    std::unique_ptr<TFTrace> m_trace;
    int m_tracePaints = 0;
    std::int64_t m_lastTickNs = 0;
    std::int64_t m_longestTickGapNs = 0;
};

}  // namespace qvlink::bench
