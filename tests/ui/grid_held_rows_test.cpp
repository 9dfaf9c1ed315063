// A shown grid that rolls rows through (the trace) tells its view once per frame; the view then
// shows exactly what telling it row by row would have shown.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <string>

#include "grid_test_support.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

using test::settle;
using test::traceGrid;

/// One record the way the trace logs it, at the trace's 300-row limit.
void logRecord(GridView& grid, int n) {
    grid.addRow();
    grid.setCurrentRow(grid.RowCount() - 2);
    const int row = grid.currentRow();
    for (int col = 0; col < 4; ++col) {
        grid.setCellText(col, row, std::to_string(n) + "/" + std::to_string(col));
    }
    if (grid.RowCount() > 300) {
        grid.removeRows(1, 1);
    }
}

/// Every cell the view can show reads what the grid holds.
void expectViewShowsTheGrid(const GridView& grid) {
    const QAbstractItemModel& model = *grid.model();
    ASSERT_EQ(model.rowCount(), grid.RowCount() - 1);
    for (int row = 1; row < grid.RowCount(); ++row) {
        for (int col = 0; col < 4; ++col) {
            ASSERT_EQ(model.index(row - 1, col).data().toString().toStdString(),
                      grid.getCellText(col, row))
                << "row " << row << " col " << col;
        }
    }
}

TEST(GridHeldRows, RollingRecordsReachTheViewOncePerFrameExactly) {
    auto grid = traceGrid(2);
    for (int n = 0; n < 300; ++n) {
        logRecord(*grid, n);  // the first record at the limit moves the current row, once
    }
    settle();
    grid->setTopRow(120);
    const QModelIndex current = grid->selectionModel()->currentIndex();

    QSignalSpy inserted(grid->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(grid->model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(grid->model(), &QAbstractItemModel::dataChanged);
    for (int n = 300; n < 1000; ++n) {
        logRecord(*grid, n);
    }
    // The grid answers at once; the view has not been told anything yet.
    EXPECT_EQ(grid->RowCount(), 300);
    EXPECT_EQ(grid->currentRow(), 299);
    EXPECT_EQ(grid->getCellText(0, 298), "999/0");
    EXPECT_EQ(inserted.count() + removed.count() + changed.count(), 0);

    grid->syncView();                                  // what a frame starts with
    EXPECT_EQ(inserted.count() + removed.count(), 0);  // no net growth
    EXPECT_EQ(changed.count(), 1);
    expectViewShowsTheGrid(*grid);
    EXPECT_EQ(grid->topRow(), 120);
    EXPECT_EQ(grid->selectionModel()->currentIndex(), current);
}

TEST(GridHeldRows, GrowthIsToldAtTheFrameAndShrinkingAtOnce) {
    auto grid = traceGrid(2);
    QSignalSpy inserted(grid->model(), &QAbstractItemModel::rowsInserted);
    for (int n = 0; n < 10; ++n) {
        grid->addRow();  // the current row stays: nothing needs the view
        grid->setCellText(0, grid->RowCount() - 2, std::to_string(n));
    }
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(grid->model()->rowCount(), 1);
    grid->syncView();
    EXPECT_EQ(inserted.count(), 1);
    expectViewShowsTheGrid(*grid);

    QSignalSpy removed(grid->model(), &QAbstractItemModel::rowsRemoved);
    grid->addRow();
    grid->removeRows(1, 5);  // the view would lose rows: told now, with the held row
    EXPECT_EQ(removed.count(), 1);
    expectViewShowsTheGrid(*grid);
    EXPECT_EQ(grid->RowCount(), 8);
}

TEST(GridHeldRows, AHeaderChangedWhileRowsAreHeldIsToldAtOnce) {
    auto grid = traceGrid(2);
    logRecord(*grid, 0);
    QSignalSpy headers(grid->model(), &QAbstractItemModel::headerDataChanged);
    grid->setCellText(1, 0, "Новый заголовок");
    ASSERT_EQ(headers.count(), 1);
    EXPECT_EQ(headers.at(0).at(0).value<Qt::Orientation>(), Qt::Horizontal);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Новый заголовок");
}

TEST(GridHeldRows, AHiddenGridCatchesUpInItsFirstFrame) {
    GridView grid;
    grid.setRowCount(2);
    grid.setCellText(1, 1, "first");
    grid.addRow();
    grid.addRow();
    grid.setCellText(1, 3, "third");
    EXPECT_EQ(grid.model()->rowCount(), 1);

    test::showRows(grid, 5);
    ASSERT_EQ(grid.model()->rowCount(), grid.RowCount() - 1);
    EXPECT_EQ(grid.model()->index(0, 0).data().toString(), "first");
    EXPECT_EQ(grid.model()->index(2, 0).data().toString(), "third");
}

}  // namespace
}  // namespace qvlink
