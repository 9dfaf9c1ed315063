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

}  // namespace
}  // namespace qvlink
