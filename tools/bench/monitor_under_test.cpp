#include "monitor_under_test.h"

#include <QEvent>
#include <QTimer>
#include <cstdio>

#include "process_stats.h"
#include "ui/grid_view.h"

namespace qvlink::bench {
namespace {

Dialogs reportingDialogs() {
    Dialogs dialogs = Dialogs::modal();
    dialogs.error = [](QWidget*, const QString& message) {
        std::fprintf(stderr, "monitor error: %s\n", message.toLocal8Bit().constData());
    };
    return dialogs;
}

}  // namespace

MonitorUnderTest::MonitorUnderTest(Clock clock, HistoryRecorder* recorder) {
    const FormatSettings format = FormatSettings::fromSystemLocale();
    MonitorSettings settings;
    settings.busPort = 0;
    m_main = std::make_unique<TFMain>(settings, clock, format, reportingDialogs());
    m_trace = std::make_unique<TFTrace>(clock, format, reportingDialogs());
    m_main->setTraceWindow(m_trace.get());
    if (recorder != nullptr) {
        m_main->recordHistory(*recorder);
    }
    m_main->show();
    m_trace->GridTrace->viewport()->installEventFilter(this);
    QObject::connect(m_main->TimerSync, &QTimer::timeout, this, [this] {
        const std::int64_t now = monotonicNs();
        if (m_lastTickNs != 0) {
            m_longestTickGapNs = std::max(m_longestTickGapNs, now - m_lastTickNs);
        }
        m_lastTickNs = now;
    });
}

MonitorUnderTest::~MonitorUnderTest() {
    m_main.reset();  // the endpoint stops before the trace goes
}

int MonitorUnderTest::port() {
    return m_main->UdpServer.binding(0).Port;
}

void MonitorUnderTest::setTraceShown(bool shown) {
    if (shown) {
        m_main->BOpenTraceClick();
    } else {
        m_trace->close();
    }
}

std::uint64_t MonitorUnderTest::handled() const {
    std::uint64_t total = 0;
    TDevice device;
    for (int n = 1; n <= m_main->registry().deviceCount(); ++n) {
        m_main->registry().getDevice(n, device);
        total += device.total;
    }
    return total;
}

KernelUdpStats MonitorUnderTest::kernelStats() {
    return kernelUdpStats(port()).value_or(KernelUdpStats{});
}

double MonitorUnderTest::longestTickGapSeconds() const {
    return static_cast<double>(m_longestTickGapNs) * 1e-9;
}

void MonitorUnderTest::resetObservations() {
    m_tracePaints = 0;
    m_lastTickNs = 0;
    m_longestTickGapNs = 0;
}

bool MonitorUnderTest::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint) {
        ++m_tracePaints;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace qvlink::bench
