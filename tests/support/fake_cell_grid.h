#pragma once

// An in-memory table for presenter tests: stores texts, colours and bold marks per cell and
// counts writes, without rows moving or a view.

#include <map>
#include <set>
#include <string>
#include <utility>

#include "common/cell_grid.h"

namespace qvlink::test {

class FakeCellGrid : public CellGrid {
public:
    using Cell = std::pair<int, int>;  // (column, row)

    explicit FakeCellGrid(int rowCount = 0) : m_rowCount(rowCount) {}

    std::string getCellText(int col, int row) const override {
        const auto it = texts.find({col, row});
        return it == texts.end() ? std::string() : it->second;
    }
    void setCellText(int col, int row, const std::string& text) override {
        ++textWrites[{col, row}];
        if (text.empty()) {
            texts.erase({col, row});
        } else {
            texts[{col, row}] = text;
        }
    }
    void setCellFontColor(int col, int row, TColor color) override { colors[{col, row}] = color; }
    void setCellBold(int col, int row) override { bold.insert({col, row}); }
    void addRow() override { ++m_rowCount; }
    void removeRows(int, int count) override { m_rowCount -= count; }
    int RowCount() const override { return m_rowCount; }
    int currentRow() const override { return m_currentRow; }
    void setCurrentRow(int row) override { m_currentRow = row; }
    void repaintRow(int row) override { repaintedRows.insert(row); }
    void clearAllCells() override {
        texts.clear();
        colors.clear();
        bold.clear();
    }

    TColor colorOf(int col, int row) const {
        const auto it = colors.find({col, row});
        return it == colors.end() ? clNone : it->second;
    }

    std::map<Cell, std::string> texts;
    std::map<Cell, TColor> colors;
    std::set<Cell> bold;
    std::map<Cell, int> textWrites;
    std::set<int> repaintedRows;

private:
    int m_rowCount;
    int m_currentRow = 0;
};

}  // namespace qvlink::test
