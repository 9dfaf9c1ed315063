#pragma once

// The one place where the program's colour values become Qt colours.

#include <QColor>

#include "common/cell_grid.h"

namespace qvlink {

/// Background of fixed (header) cells.
inline constexpr TColor kFixedCellColor = clBtnFace;
/// Background of normal cells: the colour of every column.
inline constexpr TColor kCellColor = clWindow;
/// Text of fixed and normal cells that carry no colour override.
inline constexpr TColor kCellTextColor = clWindowText;
/// Selection background of every grid, drawn with black text.
inline constexpr TColor kSelectionColor = 0xEACAB6;  // RGB(182, 202, 234)
/// Colour of the lines between cells.
inline constexpr TColor kGridLineColor = 0xC0C0C0;  // silver

/// 0x00BBGGRR as a Qt colour. A system colour (top byte 0x80) is resolved from the
/// application palette as it is now; clNone and unknown system colours give an invalid colour.
QColor toQColor(TColor color);

}  // namespace qvlink
