#pragma once

// Draws the normal cells of a grid; the grid never edits, so the delegate only paints.

#include <QAbstractItemDelegate>

namespace qvlink {

class GridCellPainter;
class GridModel;

class GridDelegate : public QAbstractItemDelegate {
    Q_OBJECT

public:
    GridDelegate(const GridCellPainter& painter, const GridModel& model, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const GridCellPainter& m_painter;
    const GridModel& m_model;
};

}  // namespace qvlink
