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

void FramePacer::releaseHeldFrame() {
    m_release.stop();
    m_sinceFrame.start();
    const QScopedValueRollback<bool> releasing(m_releasing, true);
    emit frameStarts();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || event->type() != QEvent::UpdateRequest || m_releasing) {
        return false;
    }
    if (m_release.isActive()) {
        return true;  // the held frame will paint this too
    }
    const auto elapsed = std::chrono::milliseconds(m_sinceFrame.isValid() ? m_sinceFrame.elapsed()
                                                                          : m_frame.count());
    if (elapsed >= m_frame) {
        m_sinceFrame.start();
        emit frameStarts();
        return false;
    }
    m_release.start(m_frame - elapsed);
    return true;
}

}  // namespace qvlink
