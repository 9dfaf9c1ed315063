#pragma once

#include <string>

#include "common/cell_grid.h"

namespace qvlink {

/// A rectangle of cells, corners included, in (column, row) as the cell operations take them.
struct CellRange {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

/// The cells as a spreadsheet pastes them: a tab between cells, a line feed between rows,
/// none after the last. Tabs and line breaks inside a cell (text a device sent) become spaces,
/// so that they cannot shift the cells after them.
std::string cellsAsTabSeparated(const CellGrid& grid, const CellRange& range);

}  // namespace qvlink
