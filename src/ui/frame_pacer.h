#pragma once

// Paces a window's repaints to the display's frame rate. Qt paints a window once per pass
// of the event loop after anything in it asked for an update; a thousand trace rows a
// second, each delivered by its own event, would paint it a thousand times. The pacer holds
// back the window's update requests that come sooner than a frame after the last paint and
// releases one request at the frame's end, which paints everything asked for meanwhile.
// Whatever must be current in a frame (a grid's held rows) is brought up to date on
// frameStarts, just before the window paints. A window may also cap the share of time spent
// painting it: frames that cost more then come less often, down to kSlowestFrame.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

class QWidget;

namespace qvlink {

class FramePacer : public QObject {
    Q_OBJECT

public:
    /// Paces `window` (a top-level widget) at its screen's refresh rate, and at most at
    /// `maxFramesPerSecond` when that is given, or returns the pacer it already has. The pacer
    /// lives as long as the window.
    static FramePacer* pace(QWidget* window, qreal maxFramesPerSecond = 0.0);

    FramePacer(QWidget* window, std::chrono::milliseconds frame);

    /// Longest time between frames that the paint share may ask for.
    static constexpr std::chrono::milliseconds kSlowestFrame{100};

    /// Time from the start of one frame to the next: `frame`, or longer where frames cost
    /// `paintCost` each and painting should take at most `maxPaintShare` (0 for no cap) of
    /// the time, up to kSlowestFrame.
    static std::chrono::milliseconds frameInterval(std::chrono::microseconds paintCost,
                                                   std::chrono::milliseconds frame,
                                                   double maxPaintShare);

    /// Caps the share of time spent painting the window (e.g. 0.02), measured over its
    /// recent frames; 0, the default, paints every frame the display allows.
    void setMaxPaintShare(double share) { m_maxPaintShare = share; }

    /// Paints a frame now, with whatever was held for it.
    void releaseHeldFrame();

signals:
    /// The window is about to paint a frame.
    void frameStarts();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::chrono::milliseconds m_frame;
    double m_maxPaintShare = 0.0;
    /// Paint time of the recent frames, smoothed so that one slow frame counts a quarter.
    std::chrono::microseconds m_paintCost{0};
    QElapsedTimer m_sinceFrame;
    QTimer m_release;
    bool m_releasing = false;
};

}  // namespace qvlink
