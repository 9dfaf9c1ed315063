#include "ui/grid_delegate.h"

#include <QPainter>

#include "ui/grid_cell_painter.h"

namespace qvlink {

GridDelegate::GridDelegate(const GridCellPainter& painter, const GridModel& model, QObject* parent)
    : QAbstractItemDelegate(parent), m_painter(painter), m_model(model) {}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    m_painter.paintBodyCell(*painter, option.rect, index.column() + m_model.fixedCols(),
                            index.row() + m_model.fixedRows(),
                            option.state.testFlag(QStyle::State_Selected),
                            option.features.testFlag(QStyleOptionViewItem::WrapText));
}

QSize GridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return option.rect.size();  // rows and columns have fixed sizes; content never resizes them
}

}  // namespace qvlink
