#pragma once

// The stored settings of one grid of a window, applied in one call.

#include <QString>
#include <QStringList>
#include <vector>

#include "ui/grid_view.h"

namespace qvlink {

struct GridSetup {
    int colCount = 0;
    int rowCount = 0;
    int fixedRows = 0;
    int fixedCols = 0;
    std::vector<int> colWidths;
    int headerRowHeight = 0;  ///< height of row 0 when there is a fixed row
    int rowHeight = 0;
    QStringList headers;      ///< texts of row 0
    QStringList fixedColumn;  ///< texts of column 0 from row 1 on
    int cellFontPixels = 11;  ///< normal cells, Tahoma
    GridLines lines = GridLines::Horizontal;
    bool rangeSelect = false;
    bool selectionVisible = false;  ///< true: the current cell is drawn selected
    bool scrollBars = true;
};

/// Configures `grid` with the common settings of every grid of the program (header cells in
/// Tahoma 11 px bold) and the grid's own ones.
void applyGridSetup(GridView& grid, const GridSetup& setup);

}  // namespace qvlink
