#pragma once

#include <QModelIndexList>
#include <QString>

namespace qvlink {

/// The texts of `cells` as tab-separated lines: one line per row in row order, the cells of a
/// row in column order. Empty for no cells.
QString cellsAsTabSeparatedText(QModelIndexList cells);

}  // namespace qvlink
