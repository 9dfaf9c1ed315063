#pragma once

// The table widget of every window: a grid of cells with an optional fixed header row and
// fixed first column, sparse cell storage, per-cell colour and bold overrides, a current
// cell, and the click, double-click and can-edit events. It never edits, sorts or lets the
// user resize anything. Cell operations take (column, row); events report (row, column).

#include <QTableView>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/cell_copy.h"
#include "common/cell_grid.h"
#include "ui/grid_cell_painter.h"
#include "ui/grid_model.h"

class QAbstractButton;

namespace qvlink {

class GridHeader;

class GridView : public QTableView, public CellGrid {
    Q_OBJECT

public:
    /// Reports (row, column) of a cell.
    using CellEvent = std::function<void(int row, int col)>;
    /// Asks whether (row, column) may be edited; the handler sets `canEdit`.
    using CanEditEvent = std::function<void(int row, int col, bool& canEdit)>;
    /// A context menu asked for over normal cell (row, column), at `globalPos` on the screen.
    using ContextMenuEvent = std::function<void(int row, int col, const QPoint& globalPos)>;

    explicit GridView(QWidget* parent = nullptr);

    // Operations the windows call.
    std::string getCellText(int col, int row) const override;
    void setCellText(int col, int row, const std::string& text) override;
    void setCellFontColor(int col, int row, TColor color) override;
    void setCellBold(int col, int row) override;
    void addRow() override;
    void removeRows(int first, int count) override;
    int RowCount() const override;
    int currentRow() const override;
    void setCurrentRow(int row) override;
    void repaintRow(int row) override;
    void clearAllCells() override;
    /// Writes the grid as an HTML table file (Windows-1251, CR LF); throws
    /// std::runtime_error with the message for the user when it cannot.
    void saveAsHtml(const std::string& fileName) const;

    int ColCount() const;
    int FixedRows() const;
    int FixedCols() const;
    int currentCol() const;
    /// Font and colours that cell (col, row) is drawn with when it is not selected.
    CellAppearance cellAppearance(int col, int row) const;
    /// First normal row in view.
    int topRow() const;
    /// Scrolls so that `row` is the first normal row in view, as far as the grid allows.
    void setTopRow(int row);
    /// The cells Ctrl+C copies: in a range-select grid the selected rectangle, in another the
    /// current cell; nothing where keyboard copying is off.
    std::optional<CellRange> copiedRange() const;

    // Configuration. Sizes are in pixels; fonts should carry pixel sizes.
    void setColCount(int count);
    void setRowCount(int count);
    /// 0 or 1: a grid has at most one header row. A change makes the first normal cell,
    /// (FixedCols, FixedRows), current.
    void setFixedRows(int count);
    /// 0 or 1: a grid has at most one fixed column. A change makes the first normal cell
    /// current.
    void setFixedCols(int count);
    /// Widths of columns 0, 1, ...; columns without one keep the default of 64.
    void setColWidths(const std::vector<int>& widths);
    void setHeaderRowHeight(int height);
    void setDefaultRowHeight(int height);
    void setCellFont(const QFont& font);
    void setFixedFont(const QFont& font);
    void setGridLines(GridLines lines);
    /// False: selected cells look like the others (the trace).
    void setSelectionVisible(bool visible);
    /// True: the mouse selects ranges of cells; false: one cell.
    void setRangeSelect(bool range);
    /// False: Ctrl+C copies nothing (the trace, whose rows move as records arrive).
    void setKeyboardCopy(bool on) { m_keyboardCopy = on; }
    /// False: no scroll bars at all; true: each as needed.
    void setScrollBarsShown(bool shown);

    // Events. A left button press on a cell (fixed cells included) reports it after a
    // normal cell has become current; a double click outside the cells reports row 0 and
    // the last column.
    void setOnClickCell(CellEvent handler) { m_onClickCell = std::move(handler); }
    void setOnDblClickCell(CellEvent handler) { m_onDblClickCell = std::move(handler); }
    void setOnCanEditCell(CanEditEvent handler) { m_onCanEditCell = std::move(handler); }
    /// A right click (or the menu key) over a normal cell; the current cell and the
    /// selection stay as they are.
    void setOnContextMenu(ContextMenuEvent handler) { m_onContextMenu = std::move(handler); }

    /// Tells the view what the grid's held row changes did: runs at the start of every frame
    /// of its window, and before the grid moves the view to a row that may be held.
    void syncView();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyboardSearch(const QString& search) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

protected slots:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    QPoint gridCell(const QModelIndex& index) const;
    bool isCorner(int col, int row) const;
    int columnWidth(int col) const;
    void applyStructure();
    void applyColumnWidths();
    void showCurrentCell();
    void scrollRowIntoView(int row);
    void repaintAll();
    void report(const CellEvent& handler, QPoint cell) const;
    /// Mouse buttons on the fixed row, the fixed column and the corner; no `cell` for a
    /// header's area beyond its last cell. Returns true when the event was consumed.
    bool handleFixedAreaMouse(QEvent* event, std::optional<QPoint> cell);
    /// Ctrl+C and Ctrl+A; true when the key was one of them.
    bool handleCopyKeys(QKeyEvent* event);

    GridModel* m_model;
    GridLook m_look;
    GridCellPainter m_painter;
    GridHeader* m_fixedRowHeader;  ///< the header row, row 0
    GridHeader* m_fixedColHeader;  ///< the fixed column, column 0
    QAbstractButton* m_corner;     ///< cell (0, 0) when both are present

    std::vector<int> m_colWidths;
    int m_headerRowHeight = 24;
    int m_currentCol = 0;
    int m_currentRow = 0;
    /// Set while the grid itself moves Qt's current index, which must not move the cell.
    bool m_movingCurrent = false;
    bool m_keyboardCopy = true;

    CellEvent m_onClickCell;
    CellEvent m_onDblClickCell;
    CanEditEvent m_onCanEditCell;
    ContextMenuEvent m_onContextMenu;
};

}  // namespace qvlink
