#include "ui/grid_model.h"

#include <algorithm>

#include "ui/color.h"

namespace qvlink {

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

template <typename Change>
void GridModel::reshape(Change change) {
    beginResetModel();
    change();
    m_shownRows = gridRowCount();
    m_held = false;
    endResetModel();
}

void GridModel::setGridColCount(int count) {
    reshape([&] {
        m_colCount = std::max(count, 0);
        m_cells.setRowCapacity(m_colCount);
    });
}

void GridModel::setGridRowCount(int count) {
    reshape([&] { m_cells.resize(count); });
}

void GridModel::setFixedRows(int count) {
    reshape([&] { m_fixedRows = std::max(count, 0); });
}

void GridModel::setFixedCols(int count) {
    reshape([&] { m_fixedCols = std::max(count, 0); });
}

bool GridModel::setText(int col, int row, const std::string& text) {
    if (col < 0 || row < 0) {
        return false;
    }
    Cell* existing = m_cells.find(col, row);
    if (existing ? existing->text == text : text.empty()) {
        return false;
    }
    (existing ? *existing : m_cells.at(col, row)).text = text;
    if (!m_held || row < m_fixedRows) {
        notifyCellChanged(col, row);  // held rows: the flush repaints them all
    }
    return true;
}

void GridModel::setFontColor(int col, int row, TColor color) {
    if (col >= 0 && row >= 0) {
        m_cells.at(col, row).fontColor = color;
    }
}

void GridModel::setBold(int col, int row) {
    if (col >= 0 && row >= 0) {
        m_cells.at(col, row).bold = true;
    }
}

void GridModel::appendRow() {
    if (gridRowCount() < m_fixedRows) {
        reshape([&] { m_cells.appendRow(); });
        return;
    }
    m_cells.appendRow();
    hold();
}

bool GridModel::removeGridRows(int first, int count) {
    if (first >= m_fixedRows && gridRowCount() - count >= m_shownRows) {
        m_cells.eraseRows(first, count);
        hold();
        return false;
    }
    if (first < m_fixedRows) {
        reshape([&] { m_cells.eraseRows(first, count); });
        return true;
    }
    flushHeldChanges();
    beginRemoveRows(QModelIndex(), first - m_fixedRows, first - m_fixedRows + count - 1);
    m_cells.eraseRows(first, count);
    m_shownRows = gridRowCount();
    endRemoveRows();
    return true;
}

void GridModel::hold() {
    if (!m_held) {
        m_held = true;
        emit changesHeld();
    }
}

bool GridModel::flushHeldChanges() {
    if (!m_held) {
        return false;
    }
    m_held = false;
    const int rows = gridRowCount();
    const bool grown = rows > m_shownRows;
    if (grown) {
        beginInsertRows(QModelIndex(), m_shownRows - m_fixedRows, rows - m_fixedRows - 1);
        m_shownRows = rows;
        endInsertRows();
    }
    if (rowCount() > 0 && columnCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
    }
    if (m_fixedCols > 0 && rowCount() > 0) {
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
    }
    return grown;
}

void GridModel::clearAll() {
    m_cells.clear();
    if (rowCount() > 0 && columnCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    }
    if (columnCount() > 0) {
        emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    }
    if (rowCount() > 0) {
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
    }
}

QModelIndex GridModel::bodyIndex(int col, int row) const {
    return index(row - m_fixedRows, col - m_fixedCols);
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(m_shownRows - m_fixedRows, 0);
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(m_colCount - m_fixedCols, 0);
}

QVariant GridModel::cellData(int col, int row, int role) const {
    const Cell* found = m_cells.find(col, row);
    if (!found) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(found->text);
        case Qt::ForegroundRole: {
            const QColor color = toQColor(found->fontColor);
            return color.isValid() ? QVariant(color) : QVariant();
        }
        default:
            return {};
    }
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    return cellData(index.column() + m_fixedCols, index.row() + m_fixedRows, role);
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        return m_fixedRows > 0 ? cellData(section + m_fixedCols, 0, role) : QVariant();
    }
    return m_fixedCols > 0 ? cellData(0, section + m_fixedRows, role) : QVariant();
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void GridModel::notifyCellChanged(int col, int row) {
    if (col >= m_colCount || row >= m_shownRows) {
        return;  // stored outside the grid: nothing shows it
    }
    const bool fixedRow = row < m_fixedRows;
    const bool fixedCol = col < m_fixedCols;
    if (fixedRow && !fixedCol) {
        emit headerDataChanged(Qt::Horizontal, col - m_fixedCols, col - m_fixedCols);
    } else if (fixedCol && !fixedRow) {
        emit headerDataChanged(Qt::Vertical, row - m_fixedRows, row - m_fixedRows);
    } else if (!fixedRow && !fixedCol) {
        const QModelIndex changed = bodyIndex(col, row);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

}  // namespace qvlink
