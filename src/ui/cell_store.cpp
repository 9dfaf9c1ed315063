#include "ui/cell_store.h"

#include <algorithm>
#include <utility>

namespace qvlink {
namespace {

/// Rows kept for reuse: what a burst of records between two frames needs at most is far more,
/// but the trace takes and adds them one at a time.
constexpr std::size_t kMaxSpareRows = 4;

/// First cell of `row` at or after column `col` (rows are sorted by column).
template <typename Row>
auto columnPosition(Row& row, int col) {
    return std::lower_bound(row.begin(), row.end(), col,
                            [](const auto& cell, int wanted) { return cell.col < wanted; });
}

}  // namespace

void CellStore::resize(int rowCount) {
    forgetLastBeyond();
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
    forgetLastBeyond();
    const auto waiting = m_beyond.find(rowCount());
    if (waiting != m_beyond.end()) {
        m_rows.push_back(std::move(waiting->second));
        m_beyond.erase(waiting);
        return;
    }
    if (m_spare.empty()) {
        m_rows.emplace_back();
        return;
    }
    // Blank cells keep their text's storage: the next record's texts fit where the last went.
    Row& row = m_rows.emplace_back(std::move(m_spare.back()));
    m_spare.pop_back();
    for (ColumnCell& cell : row) {
        cell.cell.text.clear();
        cell.cell.fontColor = clNone;
        cell.cell.bold = false;
    }
}

void CellStore::keepSpare(Row&& row) {
    if (m_spare.size() < kMaxSpareRows && !row.empty()) {
        m_spare.push_back(std::move(row));
    }
}

void CellStore::eraseRows(int first, int count) {
    const auto begin = m_rows.begin() + first;
    for (auto row = begin; row != begin + count && m_spare.size() < kMaxSpareRows; ++row) {
        keepSpare(std::move(*row));
    }
    m_rows.erase(begin, begin + count);
    if (m_beyond.empty()) {
        return;
    }
    forgetLastBeyond();
    std::unordered_map<int, Row> moved;
    for (auto& [row, cells] : m_beyond) {
        moved.emplace(row - count, std::move(cells));
    }
    m_beyond = std::move(moved);
}

void CellStore::clear() {
    for (Row& row : m_rows) {
        row.clear();
    }
    forgetLastBeyond();
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
    if (row != m_lastBeyondRow) {
        const auto it = m_beyond.find(row);
        if (it == m_beyond.end()) {
            return nullptr;
        }
        m_lastBeyondRow = row;
        m_lastBeyond = const_cast<Row*>(&it->second);
    }
    return m_lastBeyond;
}

const Cell* CellStore::find(int col, int row) const {
    const Row* cells = findRow(row);
    return cells ? findInRow(*cells, col) : nullptr;
}

Cell* CellStore::find(int col, int row) {
    return const_cast<Cell*>(std::as_const(*this).find(col, row));
}

Cell& CellStore::at(int col, int row) {
    if (row >= rowCount() && row != m_lastBeyondRow) {
        m_lastBeyond = &m_beyond[row];  // elements of the map stay put as it grows
        m_lastBeyondRow = row;
    }
    Row& cells = row < rowCount() ? m_rows[static_cast<std::size_t>(row)] : *m_lastBeyond;
    if (cells.empty()) {
        cells.reserve(m_rowCapacity);
    }
    const auto it = columnPosition(cells, col);
    if (it != cells.end() && it->col == col) {
        return it->cell;
    }
    return cells.insert(it, ColumnCell{col, Cell{}})->cell;
}

}  // namespace qvlink
