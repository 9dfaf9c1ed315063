#include "trend/trend_window.h"

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "app/monitor_fixture.h"
#include "support/history_file.h"

namespace qvlink {
namespace {

using test::HistoryFile;
using test::Monitor;
using test::processEventsUntil;

constexpr std::int64_t kSecond = 1'000'000;

QPoint rowPoint(GridView& grid, int row) {
    return grid.visualRect(grid.model()->index(row - 1, 0)).center();
}

bool loaded(TrendWindow* trend) {
    return trend != nullptr && trend->appliedGeneration() == trend->requestedGeneration();
}

class TrendFromGrid : public ::testing::Test {
protected:
    void SetUp() override {
        monitor.main->setHistoryFile([this] { return history.path(); });
        monitor.main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(monitor.main.get()));
    }

    /// Right-clicks `row` of `grid` and returns the menu's entries with their shortcuts.
    QStringList rightClick(GridView& grid, int row) {
        QStringList entries;
        QTimer::singleShot(50, [&entries] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions()) {
                    entries << action->text() + "\t" + action->shortcut().toString();
                }
                menu->close();
            }
        });
        const QPoint at = rowPoint(grid, row);
        QTest::mousePress(grid.viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid.viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid.viewport(), &event);
        QTest::mouseRelease(grid.viewport(), Qt::RightButton, {}, at);
        return entries;
    }

    HistoryFile history;
    Monitor monitor;
};

TEST_F(TrendFromGrid, RightClickOpensTheMenuAndLeavesCurrentCellAndSelectionAlone) {
    TFMain& window = *monitor.main;
    QTest::mouseClick(window.GridTi->viewport(), Qt::LeftButton, {}, rowPoint(*window.GridTi, 4));
    ASSERT_EQ(window.GridTi->currentRow(), 4);
    const QModelIndexList selectedBefore = window.GridTi->selectionModel()->selectedIndexes();

    const QStringList entries = rightClick(*window.GridTi, 9);
    EXPECT_EQ(entries,
              (QStringList{"Копировать\t", "Тренд\tCtrl+T", "Добавить на график\tCtrl+Shift+T"}));
    EXPECT_EQ(window.GridTi->currentRow(), 4);
    EXPECT_EQ(window.GridTi->selectionModel()->selectedIndexes(), selectedBefore);
    EXPECT_EQ(window.selectionKind(), SelectionKind::Ti);
    EXPECT_EQ(window.trendWindow(), nullptr);
    EXPECT_EQ(window.size(), QSize(772, 516));
}

TEST_F(TrendFromGrid, DoubleClickOpensTheTrendOfTheRowAndTheMenuAddsToIt) {
    TFMain& window = *monitor.main;
    QTest::mouseDClick(window.GridTi->viewport(), Qt::LeftButton, {}, rowPoint(*window.GridTi, 17));
    ASSERT_NE(window.trendWindow(), nullptr);
    ASSERT_EQ(window.trendWindow()->series().size(), 1U);
    EXPECT_EQ(window.trendWindow()->series()[0]->label(), "ТИ 17");

    window.addToTrend(PointKind::Ts, 5);
    window.addToTrend(PointKind::Ts, 5);    // once only
    window.addToTrend(PointKind::Ti, 501);  // not a point
    ASSERT_EQ(window.trendWindow()->series().size(), 2U);
    EXPECT_EQ(window.trendWindow()->series()[1]->label(), "ТС 5");
    EXPECT_EQ(window.trendWindow()->plot()->graph(1)->name(), "ТС 5");

    window.openTrend(PointKind::Ts, 8);  // "Тренд": this point alone
    ASSERT_EQ(window.trendWindow()->series().size(), 1U);
    EXPECT_EQ(window.trendWindow()->series()[0]->label(), "ТС 8");
}

TEST_F(TrendFromGrid, ShowsTheStoredPastThenTheLiveValuesAfterIt) {
    const std::int64_t nowSeconds = systemEpochMicros() / kSecond;
    std::vector<TrendSample> stored;
    history.begin();
    for (std::int64_t second = nowSeconds - 300; second < nowSeconds - 5; second += 10) {
        const double value = static_cast<double>(second % 13) - 4.0;
        history.ti(17, second, value, value, value, "00-11-22");
        history.ti(18, second, 99, 99, 99);
        stored.push_back({second * kSecond, value});
    }
    history.event((nowSeconds - 100) * kSecond, "00-11-22", "restart");
    history.commit();

    monitor.main->openTrend(PointKind::Ti, 17);
    TrendWindow* trend = monitor.main->trendWindow();
    ASSERT_TRUE(processEventsUntil([&] { return loaded(trend); }));
    ASSERT_EQ(trend->series()[0]->samples(), stored);

    // TI 17 = 2.5 from device 00-11-22.
    const std::vector<std::uint8_t> datagram = {
        kMagic0, kMagic1, 1, 0x00, 0x11, 0x22, 1, kClassTi, 2, 17, 0, 0, 0, 0, 0x20, 0x40};
    ASSERT_TRUE(monitor.sendAndWait({datagram}, 1));
    const std::vector<TrendSample> all = trend->series()[0]->samples();
    ASSERT_EQ(all.size(), stored.size() + 1);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), all.begin()));
    EXPECT_EQ(all.back().value, 2.5);
    EXPECT_GE(all.back().timeUs, nowSeconds * kSecond);
    trend->redraw();
    EXPECT_EQ(trend->plot()->graph(0)->dataCount(), static_cast<int>(all.size()));
    EXPECT_TRUE(trend->readoutText(all.back().timeUs).endsWith("ТИ 17: 2.50"));
    EXPECT_TRUE(trend->isFollowing());
}

TEST_F(TrendFromGrid, ZoomStopsFollowingUntilNow) {
    monitor.main->openTrend(PointKind::Ti, 1);
    TrendWindow* trend = monitor.main->trendWindow();
    ASSERT_TRUE(processEventsUntil([&] { return loaded(trend); }));
    ASSERT_TRUE(trend->isFollowing());
    trend->plot()->xAxis->scaleRange(0.5);  // what the wheel does
    EXPECT_FALSE(trend->isFollowing());
    const TimeSpan zoomed = trend->shownSpan();
    EXPECT_NEAR(static_cast<double>(zoomed.toUs - zoomed.fromUs),
                static_cast<double>(TrendWindow::kDefaultWidthUs) / 2, 1e3);
    trend->followNow();
    EXPECT_TRUE(trend->isFollowing());
    const TimeSpan now = trend->shownSpan();
    EXPECT_NEAR(static_cast<double>(now.toUs - now.fromUs),
                static_cast<double>(TrendWindow::kDefaultWidthUs), 1e3);
}

}  // namespace
}  // namespace qvlink
