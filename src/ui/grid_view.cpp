#include "ui/grid_view.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <algorithm>
#include <stdexcept>

#include "ui/color.h"
#include "ui/frame_pacer.h"
#include "ui/grid_delegate.h"
#include "ui/grid_header.h"
#include "ui/html_export.h"
#include "ui/pixel_font.h"

namespace qvlink {
namespace {

constexpr int kDefaultColCount = 5;
constexpr int kDefaultRowCount = 5;
constexpr int kDefaultColWidth = 64;
constexpr int kDefaultRowHeight = 24;
constexpr int kDefaultFontPixels = 11;

RgbColor toRgb(const QColor& color) {
    return {static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
            static_cast<std::uint8_t>(color.blue())};
}

bool isLeftButton(const QEvent* event) {
    return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

bool isMouseButtonEvent(const QEvent* event) {
    return event->type() == QEvent::MouseButtonPress ||
           event->type() == QEvent::MouseButtonDblClick ||
           event->type() == QEvent::MouseButtonRelease;
}

}  // namespace

GridView::GridView(QWidget* parent)
    : QTableView(parent),
      m_model(new GridModel(this)),
      m_painter(*m_model, m_look),
      m_fixedRowHeader(new GridHeader(Qt::Horizontal, m_painter, *m_model, this)),
      m_fixedColHeader(new GridHeader(Qt::Vertical, m_painter, *m_model, this)),
      m_corner(findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    m_look.cellFont = pixelFont(QStringLiteral("Tahoma"), kDefaultFontPixels);
    m_look.fixedFont = pixelFont(QStringLiteral("Tahoma"), kDefaultFontPixels, true);

    setModel(m_model);
    setHorizontalHeader(m_fixedRowHeader);
    setVerticalHeader(m_fixedColHeader);
    setItemDelegate(new GridDelegate(m_painter, *m_model, this));
    setShowGrid(false);  // the painter draws the lines the grid asks for
    setWordWrap(true);
    setEditTriggers(NoEditTriggers);
    setSortingEnabled(false);
    setAutoScroll(false);  // the grid scrolls only where its operations say so
    setTabKeyNavigation(false);
    setSelectionBehavior(SelectItems);
    setSelectionMode(SingleSelection);
    setVerticalScrollMode(ScrollPerItem);  // the scroll position is the top row
    setHorizontalScrollMode(ScrollPerPixel);
    m_fixedColHeader->setDefaultSectionSize(kDefaultRowHeight);
    m_fixedRowHeader->setFixedHeight(m_headerRowHeight);

    m_corner->installEventFilter(this);
    m_fixedRowHeader->viewport()->installEventFilter(this);
    m_fixedColHeader->viewport()->installEventFilter(this);
    connect(m_model, &QAbstractItemModel::modelReset, this, &GridView::applyStructure);
    // A held change asks for a frame; the frame flushes it (see showEvent).
    connect(m_model, &GridModel::changesHeld, viewport(), qOverload<>(&QWidget::update));

    m_model->setGridColCount(kDefaultColCount);
    m_model->setGridRowCount(kDefaultRowCount);
    m_model->setFixedRows(1);
    m_model->setFixedCols(1);
}

std::string GridView::getCellText(int col, int row) const {
    const Cell* cell = m_model->cell(col, row);
    return cell ? cell->text : std::string();
}

void GridView::setCellText(int col, int row, const std::string& text) {
    if (m_model->setText(col, row, text) && isCorner(col, row)) {
        m_corner->update();
    }
}

void GridView::setCellFontColor(int col, int row, TColor color) {
    m_model->setFontColor(col, row, color);
}

void GridView::setCellBold(int col, int row) {
    m_model->setBold(col, row);
}

void GridView::addRow() {
    m_model->appendRow();
}

void GridView::removeRows(int first, int count) {
    if (first < 0 || first > RowCount()) {
        return;
    }
    count = std::clamp(count, 0, RowCount() - first);
    if (count == 0) {
        return;
    }
    const int top = topRow();
    bool told = false;
    {
        const QScopedValueRollback<bool> moving(m_movingCurrent, true);
        told = m_model->removeGridRows(first, count);
    }
    if (!told) {
        return;  // every row the view shows stays, and so do the current and top rows
    }
    // The same indexes stay current and on top while the content moves up under them.
    const int rowCount = RowCount();
    if (m_currentRow >= rowCount && rowCount - 1 >= FixedRows()) {
        m_currentRow = rowCount - 1;
    }
    showCurrentCell();
    setTopRow(std::min(top, rowCount - 1));
    repaintAll();
}

int GridView::RowCount() const {
    return m_model->gridRowCount();
}

int GridView::currentRow() const {
    return m_currentRow;
}

void GridView::setCurrentRow(int row) {
    if (row < 0 || row >= RowCount()) {
        throw std::out_of_range("Grid index out of range");
    }
    if (row == m_currentRow) {
        return;
    }
    syncView();
    m_currentRow = row;
    showCurrentCell();
    scrollRowIntoView(row);
}

void GridView::repaintRow(int row) {
    if (row < 0 || row >= m_model->shownRowCount()) {
        return;  // held rows are painted whole by the next frame
    }
    if (row < FixedRows()) {
        m_fixedRowHeader->viewport()->update();
        m_corner->update();
        return;
    }
    const int bodyRow = row - FixedRows();
    const int top = rowViewportPosition(bodyRow);
    const int height = rowHeight(bodyRow);
    viewport()->update(0, top, viewport()->width(), height);
    if (FixedCols() > 0) {
        m_fixedColHeader->viewport()->update(0, top, m_fixedColHeader->viewport()->width(), height);
    }
}

void GridView::clearAllCells() {
    m_model->clearAll();
    repaintAll();
}

void GridView::saveAsHtml(const std::string& fileName) const {
    HtmlTableSource source;
    source.colCount = ColCount();
    source.rowCount = RowCount();
    source.fixedRows = FixedRows();
    source.headerBold = m_look.fixedFont.bold();
    source.headerBackground = toRgb(toQColor(kFixedCellColor));
    source.cellBackground = toRgb(toQColor(kCellColor));
    source.textColor = toRgb(toQColor(kCellTextColor));
    source.cellText = [this](int col, int row) { return getCellText(col, row); };
    saveHtmlTable(fileName, source);
}

int GridView::ColCount() const {
    return m_model->gridColCount();
}

int GridView::FixedRows() const {
    return m_model->fixedRows();
}

int GridView::FixedCols() const {
    return m_model->fixedCols();
}

int GridView::currentCol() const {
    return m_currentCol;
}

CellAppearance GridView::cellAppearance(int col, int row) const {
    if (row < FixedRows() || col < FixedCols()) {
        return m_painter.fixedAppearance(col, row);
    }
    return m_painter.bodyAppearance(col, row, false);
}

int GridView::topRow() const {
    return FixedRows() + verticalScrollBar()->value();
}

void GridView::setTopRow(int row) {
    syncView();
    executeDelayedItemsLayout();  // the scroll range must know about added rows
    verticalScrollBar()->setValue(std::max(row - FixedRows(), 0));
}

void GridView::setColCount(int count) {
    m_model->setGridColCount(count);
}

void GridView::setRowCount(int count) {
    m_model->setGridRowCount(count);
}

void GridView::setFixedRows(int count) {
    if (count < 0 || count > 1) {
        throw std::invalid_argument("A grid has at most one fixed row");
    }
    if (count != FixedRows()) {
        m_currentCol = FixedCols();
        m_currentRow = count;
        m_model->setFixedRows(count);
    }
}

void GridView::setFixedCols(int count) {
    if (count < 0 || count > 1) {
        throw std::invalid_argument("A grid has at most one fixed column");
    }
    if (count != FixedCols()) {
        m_currentCol = count;
        m_currentRow = FixedRows();
        m_model->setFixedCols(count);
    }
}

void GridView::setColWidths(const std::vector<int>& widths) {
    m_colWidths = widths;
    applyColumnWidths();
}

void GridView::setHeaderRowHeight(int height) {
    m_headerRowHeight = height;
    m_fixedRowHeader->setFixedHeight(height);
}

void GridView::setDefaultRowHeight(int height) {
    m_fixedColHeader->setDefaultSectionSize(height);
}

void GridView::setCellFont(const QFont& font) {
    m_look.cellFont = font;
    m_painter.forgetLayouts();
    repaintAll();
}

void GridView::setFixedFont(const QFont& font) {
    m_look.fixedFont = font;
    repaintAll();
}

void GridView::setGridLines(GridLines lines) {
    m_look.lines = lines;
    repaintAll();
}

void GridView::setSelectionVisible(bool visible) {
    m_look.selectionVisible = visible;
    repaintAll();
}

void GridView::setRangeSelect(bool range) {
    setSelectionMode(range ? ContiguousSelection : SingleSelection);
}

void GridView::setScrollBarsShown(bool shown) {
    const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
}

void GridView::syncView() {
    bool grown = false;
    {
        const QScopedValueRollback<bool> moving(m_movingCurrent, true);
        grown = m_model->flushHeldChanges();
    }
    if (grown) {
        executeDelayedItemsLayout();  // the frame paints with the new row count
    }
}

void GridView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    QTableView::mousePressEvent(event);  // makes a normal cell current first
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
        report(m_onClickCell, gridCell(index));
    }
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        report(m_onDblClickCell, QPoint(ColCount() - 1, 0));
        return;
    }
    edit(index, DoubleClicked, event);
    report(m_onDblClickCell, gridCell(index));
}

void GridView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    if (!m_onContextMenu) {
        return;
    }
    if (event->reason() != QContextMenuEvent::Mouse) {
        m_onContextMenu(m_currentRow, m_currentCol, event->globalPos());
        return;
    }
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid()) {
        const QPoint cell = gridCell(index);
        m_onContextMenu(cell.y(), cell.x(), event->globalPos());
    }
}

void GridView::keyPressEvent(QKeyEvent* event) {
    if (handleCopyKeys(event)) {
        return;
    }
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    if (currentIndex().isValid() && currentIndex() != before) {
        scrollTo(currentIndex());  // keyboard moves keep the current cell in view
    }
}

bool GridView::handleCopyKeys(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        if (const std::optional<CellRange> range = copiedRange()) {
            QGuiApplication::clipboard()->setText(
                QString::fromStdString(cellsAsTabSeparated(*this, *range)));
        }
        return true;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        event->accept();
        if (selectionMode() == ContiguousSelection) {
            selectAll();
        }
        return true;
    }
    return false;
}

std::optional<CellRange> GridView::copiedRange() const {
    if (!m_keyboardCopy) {
        return std::nullopt;
    }
    const QModelIndexList selected = selectionMode() == ContiguousSelection
                                         ? selectionModel()->selectedIndexes()
                                         : QModelIndexList{};
    if (selected.isEmpty()) {
        if (m_currentRow < FixedRows() || m_currentCol < FixedCols()) {
            return std::nullopt;
        }
        return CellRange{m_currentCol, m_currentRow, m_currentCol, m_currentRow};
    }
    QRect bounds;
    for (const QModelIndex& index : selected) {
        bounds |= QRect(gridCell(index), QSize(1, 1));
    }
    return CellRange{bounds.left(), bounds.top(), bounds.right(), bounds.bottom()};
}

bool GridView::edit(const QModelIndex& index, EditTrigger trigger, QEvent*) {
    const EditTriggers attempts = DoubleClicked | SelectedClicked | EditKeyPressed | AnyKeyPressed;
    if (index.isValid() && attempts.testFlag(trigger) && m_onCanEditCell) {
        const QPoint cell = gridCell(index);
        bool canEdit = false;
        m_onCanEditCell(cell.y(), cell.x(), canEdit);
    }
    return false;  // the grid has no cell editor: whatever the answer, nothing is edited
}

void GridView::keyboardSearch(const QString&) {}

bool GridView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_corner) {
        if (event->type() == QEvent::Paint) {
            QPainter painter(m_corner);
            m_painter.paintFixedCell(painter, m_corner->rect(), 0, 0);
            return true;
        }
        return handleFixedAreaMouse(event, QPoint(0, 0));
    }
    for (const GridHeader* header : {m_fixedRowHeader, m_fixedColHeader}) {
        if (watched == header->viewport() && isMouseButtonEvent(event)) {
            const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
            const int section = header->logicalIndexAt(position);
            return handleFixedAreaMouse(
                event,
                section < 0 ? std::nullopt : std::optional<QPoint>(header->cellOfSection(section)));
        }
    }
    return QTableView::eventFilter(watched, event);
}

bool GridView::handleFixedAreaMouse(QEvent* event, std::optional<QPoint> cell) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (isLeftButton(event) && cell) {
                report(m_onClickCell, *cell);
            }
            return true;
        case QEvent::MouseButtonDblClick:
            if (isLeftButton(event)) {
                report(m_onDblClickCell, cell.value_or(QPoint(ColCount() - 1, 0)));
            }
            return true;
        case QEvent::MouseButtonRelease:
            return true;
        default:
            return false;
    }
}

void GridView::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    // Bursts of changes paint once per frame, and rows held meanwhile reach the view then.
    const FramePacer* pacer = FramePacer::pace(window());
    connect(pacer, &FramePacer::frameStarts, this, &GridView::syncView, Qt::UniqueConnection);
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!m_movingCurrent && current.isValid()) {
        const QPoint cell = gridCell(current);
        m_currentCol = cell.x();
        m_currentRow = cell.y();
    }
}

QPoint GridView::gridCell(const QModelIndex& index) const {
    return {index.column() + FixedCols(), index.row() + FixedRows()};
}

bool GridView::isCorner(int col, int row) const {
    return row < FixedRows() && col < FixedCols() && row < RowCount() && col < ColCount();
}

int GridView::columnWidth(int col) const {
    return col < static_cast<int>(m_colWidths.size()) ? m_colWidths[col] : kDefaultColWidth;
}

void GridView::applyStructure() {
    m_fixedRowHeader->setVisible(FixedRows() > 0);
    m_fixedColHeader->setVisible(FixedCols() > 0);
    applyColumnWidths();
    m_currentCol = std::clamp(m_currentCol, FixedCols(), std::max(ColCount() - 1, FixedCols()));
    m_currentRow = std::clamp(m_currentRow, FixedRows(), std::max(RowCount() - 1, FixedRows()));
    showCurrentCell();
    repaintAll();
}

void GridView::applyColumnWidths() {
    if (FixedCols() > 0) {
        m_fixedColHeader->setFixedWidth(columnWidth(0));
    }
    for (int section = 0; section < m_fixedRowHeader->count(); ++section) {
        m_fixedRowHeader->resizeSection(section, columnWidth(section + FixedCols()));
    }
}

void GridView::showCurrentCell() {
    const QScopedValueRollback<bool> moving(m_movingCurrent, true);
    const QModelIndex index = m_model->bodyIndex(m_currentCol, m_currentRow);
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->clear();
    }
}

void GridView::scrollRowIntoView(int row) {
    const QModelIndex index = m_model->bodyIndex(std::max(m_currentCol, FixedCols()), row);
    if (!index.isValid()) {
        return;  // fixed rows are always in view
    }
    executeDelayedItemsLayout();  // the scroll range must know about added rows
    const int horizontal = horizontalScrollBar()->value();
    scrollTo(index, EnsureVisible);
    horizontalScrollBar()->setValue(horizontal);
}

void GridView::repaintAll() {
    viewport()->update();
    m_fixedRowHeader->viewport()->update();
    m_fixedColHeader->viewport()->update();
    m_corner->update();
}

void GridView::report(const CellEvent& handler, QPoint cell) const {
    if (handler) {
        handler(cell.y(), cell.x());
    }
}

}  // namespace qvlink
