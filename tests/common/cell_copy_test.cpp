#include "common/cell_copy.h"

#include <gtest/gtest.h>

#include "support/fake_cell_grid.h"

namespace qvlink {
namespace {

TEST(CellsAsTabSeparated, RowsByLineFeedCellsByTabAndCellBreaksFlattened) {
    test::FakeCellGrid grid;
    grid.setCellText(1, 1, "12,5");
    grid.setCellText(2, 1, "a\tb");
    grid.setCellText(1, 2, "line\r\nbreak");
    // (2, 2) stays empty
    const struct {
        const char* name;
        CellRange range;
        std::string text;
    } cases[] = {
        {"one cell", {1, 1, 1, 1}, "12,5"},
        {"one row", {1, 1, 2, 1}, "12,5\ta b"},
        {"one column", {1, 1, 1, 2}, "12,5\nline  break"},
        {"block with an empty cell", {1, 1, 2, 2}, "12,5\ta b\nline  break\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cellsAsTabSeparated(grid, c.range), c.text);
    }
}

}  // namespace
}  // namespace qvlink
