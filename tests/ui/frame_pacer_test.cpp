#include "ui/frame_pacer.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "grid_test_support.h"

namespace qvlink {
namespace {

class PaintCounter : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(FramePacer, UpdatesWithinAFrameArePaintedOnceWhenItEnds) {
    QWidget window;
    auto* counter = new PaintCounter(&window);
    counter->resize(50, 50);
    FramePacer pacer(&window, std::chrono::hours(1));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    test::settle();
    pacer.releaseHeldFrame();  // a frame starts now and lasts an hour
    const int painted = counter->paints;

    counter->update();
    test::settle();
    counter->update();
    test::settle();
    EXPECT_EQ(counter->paints, painted);
    pacer.releaseHeldFrame();
    EXPECT_EQ(counter->paints, painted + 1);
}

TEST(FramePacer, CostlyFramesComeLessOftenWithinTheSlowestFrame) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    const struct {
        microseconds paintCost;
        milliseconds frame;
        double share;
        milliseconds interval;
    } cases[] = {
        {microseconds(1400), milliseconds(40), 0.0, milliseconds(40)},   // no cap
        {microseconds(400), milliseconds(40), 0.02, milliseconds(40)},   // cheap: every frame
        {microseconds(1400), milliseconds(40), 0.02, milliseconds(70)},  // a flood
        {microseconds(1401), milliseconds(40), 0.02, milliseconds(71)},  // rounded up
        {microseconds(9000), milliseconds(40), 0.02, FramePacer::kSlowestFrame},
        {microseconds(9000), milliseconds(250), 0.02, milliseconds(250)},  // already slower
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paintCost.count());
        EXPECT_EQ(FramePacer::frameInterval(c.paintCost, c.frame, c.share), c.interval);
    }
}

}  // namespace
}  // namespace qvlink
