#pragma once

// Sparse cell storage of a grid. Rows inside the grid live in a deque, so that a row taken
// from the front (the rolling trace) costs the same as one added at the end; rows written
// beyond the grid's size wait in a map until the grid grows over them. A few rows taken out
// are kept, blanked, for the next rows added, so a rolling trace reuses their memory.

#include <algorithm>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/cell_grid.h"

namespace qvlink {

/// One cell: its text and its style overrides.
struct Cell {
    std::string text;
    TColor fontColor = clNone;  ///< clNone: the column's colour
    bool bold = false;          ///< false: the column's font style
};

class CellStore {
public:
    /// Rows held in the deque: the grid's RowCount.
    int rowCount() const { return static_cast<int>(m_rows.size()); }

    /// Grows or shrinks the grid to `rowCount` rows. Stored cells keep their row index:
    /// rows cut off wait outside the grid, rows grown over show what was written there.
    void resize(int rowCount);
    /// Appends one row at the end of the grid.
    void appendRow();
    /// Deletes rows `first` to `first + count - 1` of the grid; every row below, including
    /// those stored beyond the grid, moves up by `count`.
    void eraseRows(int first, int count);
    /// Drops every text and override; the row count stays.
    void clear();
    /// Room made for a row's cells when its first cell is written: the grid's column count,
    /// since a refresh writes every column of a new device's row one after the other.
    void setRowCapacity(int columns) {
        m_rowCapacity = static_cast<std::size_t>(std::max(columns, 1));
    }

    /// The cell at (col, row), or nullptr for a cell never written.
    const Cell* find(int col, int row) const;
    Cell* find(int col, int row);
    /// The cell at (col, row), created empty when it does not exist yet.
    Cell& at(int col, int row);

private:
    struct ColumnCell {
        int col;
        Cell cell;
    };
    /// Cells of one row, sorted by column; only written columns are present (or blank cells,
    /// which read as unwritten ones).
    using Row = std::vector<ColumnCell>;

    static const Cell* findInRow(const Row& row, int col);
    const Row* findRow(int row) const;
    void keepSpare(Row&& row);
    void forgetLastBeyond() const { m_lastBeyondRow = -1; }

    std::deque<Row> m_rows;
    std::unordered_map<int, Row> m_beyond;
    std::vector<Row> m_spare;
    std::size_t m_rowCapacity = 1;
    // The row beyond the grid looked up last: a refresh writes a device's cells one after the
    // other, tens of thousands of devices past the devices grid's last row.
    mutable int m_lastBeyondRow = -1;
    mutable Row* m_lastBeyond = nullptr;
};

}  // namespace qvlink
