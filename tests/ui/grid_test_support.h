#pragma once

// Grids shaped like the program's, shown on the offscreen screen with a known number of
// rows in view.

#include <QApplication>
#include <QPalette>
#include <QTest>
#include <memory>

#include "ui/grid_view.h"

namespace qvlink::test {

inline constexpr int kRowHeight = 18;

/// Runs what Qt has scheduled: delayed layouts, repaints.
inline void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

/// Resizes a shown grid so that exactly `rows` normal rows fit in its viewport.
inline void showRows(GridView& grid, int rows) {
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    grid.resize(grid.width(), grid.height() + rows * kRowHeight - grid.viewport()->height());
    settle();
    ASSERT_EQ(grid.viewport()->height(), rows * kRowHeight);
}

/// The trace's shape: 4 columns, a header row, no fixed column, every row 18 high.
inline std::unique_ptr<GridView> traceGrid(int rowCount, int visibleRows = 20) {
    auto grid = std::make_unique<GridView>();
    grid->setColCount(4);
    grid->setFixedCols(0);
    grid->setRowCount(rowCount);
    grid->setColWidths({90, 80, 350, 230});
    grid->setHeaderRowHeight(kRowHeight);
    grid->setDefaultRowHeight(kRowHeight);
    grid->resize(800, 300);
    showRows(*grid, visibleRows);
    return grid;
}

/// Sets the three system colours that grids and exports use for the life of the object.
class ScopedPalette {
public:
    ScopedPalette(QColor buttonFace, QColor window, QColor windowText)
        : m_saved(QApplication::palette()) {
        QPalette palette = m_saved;
        palette.setColor(QPalette::Button, buttonFace);
        palette.setColor(QPalette::Base, window);
        palette.setColor(QPalette::WindowText, windowText);
        QApplication::setPalette(palette);
    }
    ~ScopedPalette() { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

}  // namespace qvlink::test
