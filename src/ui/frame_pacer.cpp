#include "ui/frame_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace qvlink {

FramePacer* FramePacer::pace(QWidget* window, qreal maxFramesPerSecond) {
    if (auto* pacer = window->findChild<FramePacer*>(QString(), Qt::FindDirectChildrenOnly)) {
        return pacer;
    }
    const QScreen* screen = window->screen();
    qreal rate = screen && screen->refreshRate() > 0 ? screen->refreshRate() : 60.0;
    if (maxFramesPerSecond > 0.0) {
        rate = std::min(rate, maxFramesPerSecond);
    }
    return new FramePacer(window, std::chrono::milliseconds(std::max(1, qRound(1000.0 / rate))));
}

FramePacer::FramePacer(QWidget* window, std::chrono::milliseconds frame)
    : QObject(window), m_window(window), m_frame(frame) {
    m_release.setSingleShot(true);
    m_release.setTimerType(Qt::PreciseTimer);
    connect(&m_release, &QTimer::timeout, this, &FramePacer::releaseHeldFrame);
    window->installEventFilter(this);
}

std::chrono::milliseconds FramePacer::frameInterval(std::chrono::microseconds paintCost,
                                                    std::chrono::milliseconds frame,
                                                    double maxPaintShare) {
    if (maxPaintShare <= 0.0) {
        return frame;
    }
    const auto shared =
        std::chrono::ceil<std::chrono::milliseconds>(std::chrono::duration<double, std::micro>(
            static_cast<double>(paintCost.count()) / maxPaintShare));
    return std::max(frame, std::min(shared, std::max(frame, kSlowestFrame)));
}

void FramePacer::releaseHeldFrame() {
    m_release.stop();
    m_sinceFrame.start();
    const QScopedValueRollback<bool> releasing(m_releasing, true);
    emit frameStarts();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
    const std::chrono::microseconds cost(m_sinceFrame.nsecsElapsed() / 1000);
    m_paintCost = (3 * m_paintCost + cost) / 4;
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || event->type() != QEvent::UpdateRequest || m_releasing) {
        return false;
    }
    if (m_release.isActive()) {
        return true;  // the held frame will paint this too
    }
    const std::chrono::milliseconds interval = frameInterval(m_paintCost, m_frame, m_maxPaintShare);
    const auto elapsed = std::chrono::milliseconds(m_sinceFrame.isValid() ? m_sinceFrame.elapsed()
                                                                          : interval.count());
    if (elapsed >= interval) {
        releaseHeldFrame();  // painted here rather than after the filter, so its cost is known
    } else {
        m_release.start(interval - elapsed);
    }
    return true;
}

}  // namespace qvlink
