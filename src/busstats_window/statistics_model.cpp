#include "busstats_window/statistics_model.h"

#include <utility>

namespace qvlink {

StatisticsModel::StatisticsModel(QStringList titles, std::vector<bool> numeric, QObject* parent)
    : QAbstractTableModel(parent), m_titles(std::move(titles)), m_numeric(std::move(numeric)) {}

void StatisticsModel::setRows(std::vector<std::vector<StatisticsCell>> rows) {
    const int kept = static_cast<int>(std::min(rows.size(), m_rows.size()));
    const int added = static_cast<int>(rows.size()) - kept;
    if (static_cast<int>(m_rows.size()) > kept) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    if (added > 0) {
        beginInsertRows({}, kept, kept + added - 1);
        m_rows = std::move(rows);
        endInsertRows();
    } else {
        m_rows = std::move(rows);
    }
    if (kept > 0) {
        emit dataChanged(index(0, 0), index(kept - 1, columnCount() - 1));
    }
}

int StatisticsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StatisticsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant StatisticsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    const auto column = static_cast<std::size_t>(index.column());
    const StatisticsCell& cell = m_rows[static_cast<std::size_t>(index.row())][column];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(cell.text);
        case kSortRole:
            return m_numeric[column] ? QVariant(cell.sortValue)
                                     : QVariant(QString::fromStdString(cell.text));
        case Qt::TextAlignmentRole:
            return m_numeric[column] ? int(Qt::AlignRight | Qt::AlignVCenter)
                                     : int(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_titles.size()) {
        return m_titles[section];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace qvlink
