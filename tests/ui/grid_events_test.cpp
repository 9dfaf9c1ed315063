#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QHeaderView>
#include <QLineEdit>
#include <utility>
#include <vector>

#include "grid_test_support.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

using Cells = std::vector<std::pair<int, int>>;  // (row, column) as the events report them

/// The devices grid's shape: a header row and a numbered fixed column, few rows so that
/// the viewport has room below the last one.
class GridEvents : public ::testing::Test {
protected:
    void SetUp() override {
        m_grid.setColCount(5);
        m_grid.setRowCount(4);
        m_grid.setColWidths({30, 85, 110, 95, 60});
        m_grid.setHeaderRowHeight(18);
        m_grid.setDefaultRowHeight(21);
        m_grid.setOnClickCell([this](int row, int col) {
            m_clicks.emplace_back(row, col);
            m_currentAtClick = m_grid.currentRow();
        });
        m_grid.setOnDblClickCell(
            [this](int row, int col) { m_doubleClicks.emplace_back(row, col); });
        m_grid.resize(420, 200);
        m_grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_grid));
    }

    /// Viewport point inside normal cell (col, row).
    QPoint cellPoint(int col, int row) const {
        return m_grid.visualRect(m_grid.model()->index(row - 1, col - 1)).center();
    }

    GridView m_grid;
    Cells m_clicks;
    Cells m_doubleClicks;
    int m_currentAtClick = -1;
};

TEST_F(GridEvents, ClickOnNormalCellMakesItCurrentBeforeReporting) {
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, cellPoint(2, 3));
    EXPECT_EQ(m_clicks, (Cells{{3, 2}}));
    EXPECT_EQ(m_currentAtClick, 3);
    EXPECT_EQ(m_grid.currentCol(), 2);
}

TEST_F(GridEvents, FixedCellsReportTheirPlaceWithoutMovingTheCurrentCell) {
    QHeaderView* header = m_grid.horizontalHeader();
    QHeaderView* numbers = m_grid.verticalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, 9));
    QTest::mouseClick(numbers->viewport(), Qt::LeftButton, {},
                      QPoint(5, numbers->sectionViewportPosition(2) + 5));
    auto* corner = m_grid.findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    QTest::mouseClick(corner, Qt::LeftButton, {}, corner->rect().center());
    EXPECT_EQ(m_clicks, (Cells{{0, 2}, {3, 0}, {0, 0}}));
    EXPECT_EQ(m_grid.currentRow(), 1);
}

TEST_F(GridEvents, NoClickOutsideTheCellsOrWithOtherButtons) {
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, QPoint(20, 150));
    QTest::mouseClick(m_grid.viewport(), Qt::RightButton, {}, cellPoint(2, 3));
    EXPECT_TRUE(m_clicks.empty());
    EXPECT_EQ(m_grid.currentRow(), 1);
}

TEST_F(GridEvents, DoubleClickReportsTheCellOrRowZeroOfTheLastColumn) {
    QTest::mouseDClick(m_grid.viewport(), Qt::LeftButton, {}, cellPoint(4, 2));
    QTest::mouseDClick(m_grid.viewport(), Qt::LeftButton, {}, QPoint(20, 150));
    QTest::mouseDClick(m_grid.horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(5, 9));
    EXPECT_EQ(m_doubleClicks, (Cells{{2, 4}, {0, 4}, {0, 1}}));
}

TEST_F(GridEvents, EditAttemptsAskTheHandlerButNothingIsEdited) {
    Cells asked;
    m_grid.setOnCanEditCell([&](int row, int col, bool& canEdit) {
        asked.emplace_back(row, col);
        canEdit = true;
    });
    m_grid.setCellText(2, 3, "fixed text");
    QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, cellPoint(2, 3));
    QTest::keyClick(&m_grid, Qt::Key_F2);
    QTest::keyClicks(&m_grid, "zz");
    EXPECT_EQ(asked, (Cells{{3, 2}, {3, 2}, {3, 2}}));
    EXPECT_EQ(m_grid.findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(m_grid.getCellText(2, 3), "fixed text");
}

TEST(GridAccessibility, ScreenReadersSeeCellsAndHeaders) {
    auto grid = test::traceGrid(3);
    grid->setCellText(2, 0, "Пакет");
    grid->setCellText(2, 1, "FA CE 01");
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(grid.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::Table);
    QAccessibleTableInterface* table = view->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->columnCount(), 4);
    QAccessibleInterface* cell = table->cellAt(0, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "FA CE 01");
    // A screen reader walks the children row by row, the header row first; Qt may put a
    // row-header column first even when the grid has no fixed column.
    const int columns = view->childCount() / 3;
    const int firstCell = columns - 4;
    ASSERT_GE(firstCell, 0);
    EXPECT_EQ(view->child(firstCell + 2)->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(view->child(firstCell + 2)->text(QAccessible::Name), "Пакет");
    EXPECT_EQ(view->child(columns + firstCell + 2)->text(QAccessible::Name), "FA CE 01");
}

}  // namespace
}  // namespace qvlink
