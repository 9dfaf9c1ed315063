#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "busstats/statistics_table.h"

namespace qvlink {

/// Rows of statistics cells for a table view: the text to show, and under kSortRole the
/// value a column sorts by (numbers by value, texts by text). Rows are replaced whole on
/// each refresh; rows that keep their place are updated in place so the selection stays.
class StatisticsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kSortRole = Qt::UserRole;

    /// `numeric` says per column whether it is right-aligned and sorted by value.
    StatisticsModel(QStringList titles, std::vector<bool> numeric, QObject* parent = nullptr);

    void setRows(std::vector<std::vector<StatisticsCell>> rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_titles;
    std::vector<bool> m_numeric;
    std::vector<std::vector<StatisticsCell>> m_rows;
};

}  // namespace qvlink
