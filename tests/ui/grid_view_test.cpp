#include "ui/grid_view.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <stdexcept>
#include <string>

#include "grid_test_support.h"

namespace qvlink {
namespace {

using test::settle;
using test::traceGrid;

TEST(GridStorage, WritesBeyondTheGridAreKeptUnshownUntilItGrows) {
    GridView grid;
    grid.setRowCount(30);
    QSignalSpy changes(grid.model(), &QAbstractItemModel::dataChanged);
    grid.setCellText(2, 35, "late");
    grid.setCellText(9, 3, "wide");
    EXPECT_EQ(grid.getCellText(2, 35), "late");
    EXPECT_EQ(grid.getCellText(9, 3), "wide");
    EXPECT_EQ(grid.RowCount(), 30);
    EXPECT_EQ(grid.model()->rowCount(), 29);
    EXPECT_EQ(changes.count(), 0);

    grid.setCellText(4, 40, "later");
    grid.setCellText(3, 35, "next to late");  // back to a row written before
    EXPECT_EQ(grid.getCellText(2, 35), "late");
    EXPECT_EQ(grid.getCellText(4, 40), "later");

    grid.removeRows(1, 1);  // rows below the grid move up with the rest
    EXPECT_EQ(grid.getCellText(2, 34), "late");
    EXPECT_EQ(grid.getCellText(2, 35), "");
    grid.setCellText(1, 39, "moved");
    EXPECT_EQ(grid.getCellText(4, 39), "later");
    EXPECT_EQ(grid.getCellText(1, 39), "moved");
    for (int i = 0; i < 6; ++i) {
        grid.addRow();
    }
    grid.syncView();
    EXPECT_EQ(grid.model()->index(33, 1).data().toString(), "late");
}

TEST(GridStorage, OnlyChangedTextsNotify) {
    GridView grid;
    QSignalSpy changes(grid.model(), &QAbstractItemModel::dataChanged);
    grid.setCellText(1, 1, "x");
    grid.setCellText(1, 1, "x");
    grid.setCellText(2, 2, "");
    EXPECT_EQ(changes.count(), 1);
    grid.setCellText(1, 1, "");
    EXPECT_EQ(grid.getCellText(1, 1), "");
    EXPECT_EQ(changes.count(), 2);
}

TEST(GridStyle, OverridesReplaceTheColumnLookUntilEverythingIsCleared) {
    const test::ScopedPalette palette(QColor(0xD4D0C8), Qt::white, Qt::blue);
    GridView grid;
    grid.setCellText(1, 1, "aged");
    grid.setCellFontColor(1, 1, clMedGray);
    grid.setCellFontColor(2, 1, clBlack);
    grid.setCellFontColor(3, 1, clNone);
    grid.setCellBold(4, 1);
    grid.setCellFontColor(1, 0, clMedGray);

    EXPECT_EQ(grid.cellAppearance(1, 1).text, QColor(0xA0, 0xA0, 0xA4));
    EXPECT_EQ(grid.cellAppearance(2, 1).text, QColor(Qt::black));
    EXPECT_EQ(grid.cellAppearance(3, 1).text, QColor(Qt::blue));
    EXPECT_TRUE(grid.cellAppearance(4, 1).font.bold());
    EXPECT_FALSE(grid.cellAppearance(3, 1).font.bold());
    EXPECT_EQ(grid.cellAppearance(1, 0).text, QColor(0xA0, 0xA0, 0xA4));
    EXPECT_TRUE(grid.cellAppearance(2, 0).font.bold());  // fixed font
    EXPECT_EQ(grid.cellAppearance(2, 0).background, QColor(0xD4D0C8));

    grid.clearAllCells();
    grid.setCellText(4, 1, "normal again");
    EXPECT_EQ(grid.getCellText(1, 1), "");
    EXPECT_EQ(grid.cellAppearance(1, 1).text, QColor(Qt::blue));
    EXPECT_EQ(grid.cellAppearance(2, 1).text, QColor(Qt::blue));
    EXPECT_FALSE(grid.cellAppearance(4, 1).font.bold());
    EXPECT_EQ(grid.RowCount(), 5);
}

TEST(GridRows, RemovalKeepsCurrentAndTopIndexesWhileContentMovesUp) {
    const struct {
        const char* name;
        int rowCount, current, top, first, count;
        int expectedRowCount, expectedCurrent, expectedTop;
    } cases[] = {
        {"rolling trace", 301, 299, 280, 1, 1, 300, 299, 280},
        {"current past the end goes to the last row", 5, 4, 1, 1, 3, 2, 1, 1},
        {"current still inside stays", 5, 1, 1, 1, 3, 2, 1, 1},
        {"clearing the trace", 40, 39, 20, 1, 38, 2, 1, 1},
        {"top past the end is pulled back to a full view", 60, 59, 40, 1, 30, 30, 29, 10},
        {"count 0 removes nothing", 5, 3, 1, 1, 0, 5, 3, 1},
        {"first past RowCount removes nothing", 5, 3, 1, 6, 1, 5, 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto grid = traceGrid(c.rowCount);
        for (int row = 0; row < c.rowCount; ++row) {
            grid->setCellText(0, row, std::to_string(row));
        }
        grid->setCurrentRow(c.current);
        grid->setTopRow(c.top);
        settle();
        ASSERT_EQ(grid->topRow(), c.top);

        grid->removeRows(c.first, c.count);
        settle();
        EXPECT_EQ(grid->RowCount(), c.expectedRowCount);
        EXPECT_EQ(grid->currentRow(), c.expectedCurrent);
        EXPECT_EQ(grid->topRow(), c.expectedTop);
        const int moved = c.first <= c.rowCount ? c.count : 0;
        EXPECT_EQ(grid->getCellText(0, 1), std::to_string(1 + moved));
        EXPECT_EQ(grid->selectionModel()->currentIndex().row(), grid->currentRow() - 1);
    }
}

TEST(GridRows, AddRowKeepsCurrentRowAndScrollPosition) {
    auto grid = traceGrid(100);
    grid->setCurrentRow(99);
    const int top = grid->topRow();
    grid->addRow();
    settle();
    EXPECT_EQ(grid->RowCount(), 101);
    EXPECT_EQ(grid->currentRow(), 99);
    EXPECT_EQ(grid->topRow(), top);
    EXPECT_EQ(grid->getCellText(0, 100), "");
}

TEST(GridCurrentRow, ScrollsTheLeastAndNotAtAllWhenUnchanged) {
    auto grid = traceGrid(200);
    const struct {
        int row, topBefore, expectedTop;
    } moves[] = {
        {50, 1, 31},     // below the view: lands on the bottom line
        {10, 31, 10},    // above the view: lands on the top line
        {25, 10, 10},    // in view: no scroll
        {199, 10, 180},  // last row
    };
    for (const auto& move : moves) {
        grid->setTopRow(move.topBefore);
        grid->setCurrentRow(move.row);
        settle();
        EXPECT_EQ(grid->currentRow(), move.row);
        EXPECT_EQ(grid->topRow(), move.expectedTop) << "to row " << move.row;
    }
    grid->setTopRow(60);
    grid->setCurrentRow(199);  // unchanged, out of view
    settle();
    EXPECT_EQ(grid->topRow(), 60);
}

TEST(GridCurrentRow, RowAddedJustBeforeIsScrolledFullyIntoView) {
    auto grid = traceGrid(100);
    grid->setCurrentRow(99);
    grid->addRow();
    grid->setCurrentRow(grid->RowCount() - 1);
    settle();
    EXPECT_EQ(grid->topRow(), 81);
}

TEST(GridCurrentCell, ChangedFixedCountsMakeTheFirstNormalCellCurrent) {
    const struct {
        const char* name;
        int fixedCols, fixedRows;
        int expectedCol, expectedRow;
    } cases[] = {
        {"both dropped", 0, 0, 0, 0},
        {"fixed row dropped", 1, 0, 1, 0},
        {"fixed column dropped", 0, 1, 0, 1},
        {"unchanged counts keep the current cell", 1, 1, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GridView grid;  // built with a fixed row and column
        grid.setCurrentRow(3);

        grid.setFixedCols(c.fixedCols);
        grid.setFixedRows(c.fixedRows);
        EXPECT_EQ(grid.currentCol(), c.expectedCol);
        EXPECT_EQ(grid.currentRow(), c.expectedRow);
        const QModelIndex current = grid.selectionModel()->currentIndex();
        EXPECT_EQ(current.column(), c.expectedCol - c.fixedCols);
        EXPECT_EQ(current.row(), c.expectedRow - c.fixedRows);
    }
}

TEST(GridCurrentRow, RowOutsideTheGridIsRejected) {
    GridView grid;
    for (const int row : {-1, 5, 1000}) {
        try {
            grid.setCurrentRow(row);
            ADD_FAILURE() << "accepted row " << row;
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "Grid index out of range");
        }
    }
    EXPECT_EQ(grid.currentRow(), 1);
}

}  // namespace
}  // namespace qvlink
