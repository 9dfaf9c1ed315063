#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <string>

#include "grid_test_support.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

/// A grid with a header row and a numbered column, every normal cell named "c<col>r<row>".
void fillGrid(GridView& grid, bool rangeSelect, bool keyboardCopy) {
    grid.setColCount(3);
    grid.setRowCount(5);
    grid.setColWidths({35, 60, 55});
    grid.setRangeSelect(rangeSelect);
    grid.setKeyboardCopy(keyboardCopy);
    for (int row = 1; row < 5; ++row) {
        for (int col = 1; col < 3; ++col) {
            // Appended piece by piece: g++ 12 at -O3 takes "text" + std::string for an
            // overlapping copy (a false -Wrestrict, GCC bug 105329).
            std::string text = "c";
            text += std::to_string(col);
            text += 'r';
            text += std::to_string(row);
            grid.setCellText(col, row, text);
        }
    }
    grid.resize(200, 200);
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
}

QPoint cellPoint(const GridView& grid, int col, int row) {
    return grid.visualRect(grid.model()->index(row - 1, col - 1)).center();
}

TEST(GridCopy, CtrlCCopiesTheSelectionTheCurrentCellOrNothing) {
    const struct {
        const char* name;
        bool rangeSelect;
        bool keyboardCopy;
        bool selectAll;  ///< Ctrl+A instead of a click and a shift-click
        std::string copied;
    } cases[] = {
        {"range grid, dragged rectangle", true, true, false, "c1r2\tc2r2\nc1r3\tc2r3"},
        {"range grid, Ctrl+A", true, true, true, "c1r1\tc2r1\nc1r2\tc2r2\nc1r3\tc2r3\nc1r4\tc2r4"},
        {"single-cell grid: the current cell", false, true, false, "c2r3"},
        {"single-cell grid ignores Ctrl+A", false, true, true, "c1r1"},
        {"keyboard copy off (the trace): nothing", false, false, false, "untouched"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GridView grid;
        fillGrid(grid, c.rangeSelect, c.keyboardCopy);
        QGuiApplication::clipboard()->setText("untouched");
        if (c.selectAll) {
            QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
        } else {
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellPoint(grid, 1, 2));
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              cellPoint(grid, 2, 3));
        }
        QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), c.copied);
    }
}

}  // namespace
}  // namespace qvlink
