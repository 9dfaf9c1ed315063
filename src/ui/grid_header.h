#pragma once

// The fixed row (horizontal) or fixed column (vertical) of a grid: drawn as fixed cells,
// never resized, moved or sorted by the user.

#include <QHeaderView>

namespace qvlink {

class GridCellPainter;
class GridModel;

class GridHeader : public QHeaderView {
    Q_OBJECT

public:
    GridHeader(Qt::Orientation orientation, const GridCellPainter& painter, const GridModel& model,
               QWidget* parent);

    /// Grid (col, row) of the fixed cell drawn as `section`.
    QPoint cellOfSection(int section) const;
    /// The header's own extent: its height (width for the fixed column) is fixed by the grid,
    /// so the texts need not be measured for it at every layout of the table.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect sectionRect(int section) const;

    const GridCellPainter& m_painter;
    const GridModel& m_model;
};

}  // namespace qvlink
