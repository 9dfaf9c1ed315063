#include "ui/grid_setup.h"

#include "ui/pixel_font.h"

namespace qvlink {

namespace {
const QString kGridFontFamily = QStringLiteral("Tahoma");
constexpr int kFixedFontPixels = 11;
}  // namespace

void applyGridSetup(GridView& grid, const GridSetup& setup) {
    grid.setColCount(setup.colCount);
    grid.setRowCount(setup.rowCount);
    grid.setFixedRows(setup.fixedRows);
    grid.setFixedCols(setup.fixedCols);
    grid.setColWidths(setup.colWidths);
    grid.setDefaultRowHeight(setup.rowHeight);
    grid.setHeaderRowHeight(setup.fixedRows > 0 ? setup.headerRowHeight : setup.rowHeight);
    grid.setFont(pixelFont(kGridFontFamily, kFixedFontPixels));
    grid.setFixedFont(pixelFont(kGridFontFamily, kFixedFontPixels, true));
    grid.setCellFont(pixelFont(kGridFontFamily, setup.cellFontPixels));
    grid.setGridLines(setup.lines);
    grid.setRangeSelect(setup.rangeSelect);
    grid.setSelectionVisible(setup.selectionVisible);
    grid.setScrollBarsShown(setup.scrollBars);
    for (int col = 0; col < setup.headers.size(); ++col) {
        grid.setCellText(col, 0, setup.headers[col].toStdString());
    }
    for (int row = 0; row < setup.fixedColumn.size(); ++row) {
        grid.setCellText(0, row + 1, setup.fixedColumn[row].toStdString());
    }
}

}  // namespace qvlink
