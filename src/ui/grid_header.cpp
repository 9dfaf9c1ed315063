#include "ui/grid_header.h"

#include <QPaintEvent>
#include <QPainter>

#include "ui/color.h"
#include "ui/grid_cell_painter.h"

namespace qvlink {

GridHeader::GridHeader(Qt::Orientation orientation, const GridCellPainter& painter,
                       const GridModel& model, QWidget* parent)
    : QHeaderView(orientation, parent), m_painter(painter), m_model(model) {
    setSectionResizeMode(QHeaderView::Fixed);
    setSectionsClickable(false);
    setSectionsMovable(false);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setMinimumSectionSize(1);
}

QPoint GridHeader::cellOfSection(int section) const {
    return orientation() == Qt::Horizontal ? QPoint(section + m_model.fixedCols(), 0)
                                           : QPoint(0, section + m_model.fixedRows());
}

QSize GridHeader::sizeHint() const {
    if (orientation() == Qt::Horizontal && minimumHeight() == maximumHeight()) {
        return {length(), maximumHeight()};
    }
    if (orientation() == Qt::Vertical && minimumWidth() == maximumWidth()) {
        return {maximumWidth(), length()};
    }
    return QHeaderView::sizeHint();
}

QRect GridHeader::sectionRect(int section) const {
    const int position = sectionViewportPosition(section);
    const int size = sectionSize(section);
    return orientation() == Qt::Horizontal ? QRect(position, 0, size, viewport()->height())
                                           : QRect(0, position, viewport()->width(), size);
}

void GridHeader::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect dirty = event->rect();
    painter.fillRect(dirty, toQColor(kCellColor));  // the grid's ground beyond its last cell
    const bool horizontal = orientation() == Qt::Horizontal;
    int first = visualIndexAt(horizontal ? dirty.left() : dirty.top());
    int last = visualIndexAt(horizontal ? dirty.right() : dirty.bottom());
    if (first < 0) {
        return;
    }
    if (last < 0) {
        last = count() - 1;
    }
    for (int visual = first; visual <= last; ++visual) {
        const int section = logicalIndex(visual);
        const QPoint cell = cellOfSection(section);
        m_painter.paintFixedCell(painter, sectionRect(section), cell.x(), cell.y());
    }
}

}  // namespace qvlink
