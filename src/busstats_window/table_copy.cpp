#include "busstats_window/table_copy.h"

#include <algorithm>

namespace qvlink {

QString cellsAsTabSeparatedText(QModelIndexList cells) {
    std::sort(cells.begin(), cells.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    QString text;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0) {
            text += cells[i].row() == cells[i - 1].row() ? QChar('\t') : QChar('\n');
        }
        text += cells[i].data(Qt::DisplayRole).toString();
    }
    if (!cells.isEmpty()) {
        text += QChar('\n');
    }
    return text;
}

}  // namespace qvlink
