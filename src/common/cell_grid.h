#pragma once

// The operations the windows call on a table. The grid widget implements them over Qt;
// presenters that fill tables are written against this interface so that they can be
// exercised without a window.

#include <cstdint>
#include <string>

namespace qvlink {

/// Colour value 0x00BBGGRR (low byte red). Values with top byte 0x80 name a system colour.
using TColor = std::uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;  ///< "no colour": an unset override
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMedGray = 0xA4A0A0;  ///< grey of rows without news for 60 s
inline constexpr TColor clSystemFlag = 0x80000000;
inline constexpr TColor clBtnFace = 0x8000000F;  ///< system button face
inline constexpr TColor clWindow = 0x80000005;   ///< system window background
inline constexpr TColor clWindowText = 0x80000008;

/// Cell storage is sparse: any column and row >= 0 can be written and read back; only cells
/// inside the grid's size are shown. Cell operations take (column, row).
class CellGrid {
public:
    virtual ~CellGrid() = default;

    virtual std::string getCellText(int col, int row) const = 0;
    /// Stores the text (UTF-8) and schedules a repaint of that cell.
    virtual void setCellText(int col, int row, const std::string& text) = 0;
    /// Sets the cell's font colour override; 0 is explicit black, clNone unsets it.
    virtual void setCellFontColor(int col, int row, TColor color) = 0;
    /// Sets the cell's font style override to bold.
    virtual void setCellBold(int col, int row) = 0;
    /// Appends one empty row; the current cell and the scroll position stay.
    virtual void addRow() = 0;
    /// Removes `count` rows from `first` on, keeping the current and top row indexes.
    virtual void removeRows(int first, int count) = 0;
    virtual int RowCount() const = 0;
    virtual int currentRow() const = 0;
    /// Moves the current row, scrolling the least amount; no scroll when unchanged.
    /// Throws std::out_of_range("Grid index out of range") for a row outside the grid.
    virtual void setCurrentRow(int row) = 0;
    virtual void repaintRow(int row) = 0;
    /// Drops every text and override, fixed cells included; the size stays.
    virtual void clearAllCells() = 0;
};

}  // namespace qvlink
