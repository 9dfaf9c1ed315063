#pragma once

// The cells of one grid as a Qt table model. The grid's fixed row and fixed column are the
// model's header data; the model's rows and columns are the grid's normal cells. Grid
// coordinates (col, row) count the fixed ones, as every grid operation does.
//
// A grid that takes rows at the end and drops them at the top many times a second (the
// rolling trace) would make the views re-lay themselves out for every row. So the model holds
// such changes back: the store changes at once, while the views keep the row count they were
// last told and read every cell from the store; flushHeldChanges(), once a frame, then tells
// them the net change and repaints. Only changes that leave every row the views know in place
// are held; any other change flushes first and is told at once.

#include <QAbstractTableModel>
#include <string>

#include "ui/cell_store.h"

namespace qvlink {

class GridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit GridModel(QObject* parent = nullptr);

    int gridColCount() const { return m_colCount; }
    int gridRowCount() const { return m_cells.rowCount(); }
    /// Grid rows the views know of: gridRowCount() except while changes are held.
    int shownRowCount() const { return m_shownRows; }
    int fixedRows() const { return m_fixedRows; }
    int fixedCols() const { return m_fixedCols; }
    void setGridColCount(int count);
    void setGridRowCount(int count);
    void setFixedRows(int count);
    void setFixedCols(int count);

    /// The cell at (col, row) anywhere in the sparse storage, nullptr if never written.
    const Cell* cell(int col, int row) const { return m_cells.find(col, row); }
    /// Stores the text; returns false (and notifies nobody) when it was already there.
    bool setText(int col, int row, const std::string& text);
    /// Sets an override without notifying: the caller repaints the row.
    void setFontColor(int col, int row, TColor color);
    void setBold(int col, int row);
    void appendRow();
    /// Removes grid rows `first` to `first + count - 1`, all inside the grid. Returns true
    /// when the views were told at once, false when the removal is held (the views keep
    /// every row they know, with the content moved up).
    bool removeGridRows(int first, int count);
    void clearAll();

    /// Tells the views the net change in rows and repaints every cell: the one place held
    /// changes reach them. Returns true when the row count they know changed.
    bool flushHeldChanges();

    /// Model index of the normal cell at grid (col, row); invalid for fixed or outside cells.
    QModelIndex bodyIndex(int col, int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    /// The first change held since the last flush.
    void changesHeld();

private:
    QVariant cellData(int col, int row, int role) const;
    void hold();
    void notifyCellChanged(int col, int row);
    template <typename Change>
    void reshape(Change change);

    CellStore m_cells;
    int m_shownRows = 0;
    bool m_held = false;
    int m_colCount = 0;
    int m_fixedRows = 0;
    int m_fixedCols = 0;
};

}  // namespace qvlink
