#include "ui/cell_store.h"

#include <algorithm>

namespace qvlink {
namespace {

/// First cell of `row` at or after column `col` (rows are sorted by column).
template <typename Row>
auto columnPosition(Row& row, int col) {
    return std::lower_bound(row.begin(), row.end(), col,
                            [](const auto& cell, int wanted) { return cell.col < wanted; });
}

}  // namespace

void CellStore::resize(int rowCount) {
    rowCount = std::max(rowCount, 0);
    while (this->rowCount() > rowCount) {
        if (!m_rows.back().empty()) {
            m_beyond.emplace(this->rowCount() - 1, std::move(m_rows.back()));
        }
        m_rows.pop_back();
    }
    while (this->rowCount() < rowCount) {
        appendRow();
    }
}

void CellStore::appendRow() {
    const auto waiting = m_beyond.find(rowCount());
    if (waiting == m_beyond.end()) {
        m_rows.emplace_back();
        return;
    }
    m_rows.push_back(std::move(waiting->second));
    m_beyond.erase(waiting);
}

void CellStore::eraseRows(int first, int count) {
    const auto begin = m_rows.begin() + first;
    m_rows.erase(begin, begin + count);
    if (m_beyond.empty()) {
        return;
    }
    std::map<int, Row> moved;
    for (auto& [row, cells] : m_beyond) {
        moved.emplace_hint(moved.end(), row - count, std::move(cells));
    }
    m_beyond = std::move(moved);
}

void CellStore::clear() {
    for (Row& row : m_rows) {
        row.clear();
    }
    m_beyond.clear();
}

const Cell* CellStore::findInRow(const Row& row, int col) {
    const auto it = columnPosition(row, col);
    return it != row.end() && it->col == col ? &it->cell : nullptr;
}

const CellStore::Row* CellStore::findRow(int row) const {
    if (row < rowCount()) {
        return &m_rows[static_cast<std::size_t>(row)];
    }
    const auto it = m_beyond.find(row);
    return it == m_beyond.end() ? nullptr : &it->second;
}

const Cell* CellStore::find(int col, int row) const {
    const Row* cells = findRow(row);
    return cells ? findInRow(*cells, col) : nullptr;
}

Cell& CellStore::at(int col, int row) {
    Row& cells = row < rowCount() ? m_rows[static_cast<std::size_t>(row)] : m_beyond[row];
    const auto it = columnPosition(cells, col);
    if (it != cells.end() && it->col == col) {
        return it->cell;
    }
    return cells.insert(it, ColumnCell{col, Cell{}})->cell;
}

}  // namespace qvlink
