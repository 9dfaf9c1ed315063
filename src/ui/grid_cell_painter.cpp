#include "ui/grid_cell_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "ui/color.h"

namespace qvlink {
namespace {

/// Room between a cell's border and its text.
constexpr int kTextMarginX = 2;
constexpr int kTextMarginTop = 2;
/// Laid-out texts kept at most; a few frames of a busy trace and a full TS/TI table fit. A
/// flood of distinct texts (random datagrams in the trace) fills the cache over and over, so
/// this also bounds its memory: about 12 MB for full-length dumps and descriptions.
constexpr qsizetype kMaxLayouts = 2048;

void drawRightLine(QPainter& painter, const QRect& rect) {
    painter.drawLine(rect.topRight(), rect.bottomRight());
}

void drawBottomLine(QPainter& painter, const QRect& rect) {
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
}

/// Text area of a cell: inside its margins and clear of its right and bottom line.
QRect textRect(const QRect& cell) {
    return cell.adjusted(kTextMarginX, 0, -kTextMarginX - 1, -1);
}

}  // namespace

GridCellPainter::GridCellPainter(const GridModel& model, const GridLook& look)
    : m_model(model), m_look(look) {}

CellAppearance GridCellPainter::withOverrides(CellAppearance base, int col, int row) const {
    if (const Cell* cell = m_model.cell(col, row)) {
        const QColor override = toQColor(cell->fontColor);
        if (override.isValid()) {
            base.text = override;
        }
        if (cell->bold) {
            base.font.setBold(true);
        }
    }
    return base;
}

CellAppearance GridCellPainter::fixedAppearance(int col, int row) const {
    return withOverrides({m_look.fixedFont, toQColor(kCellTextColor), toQColor(kFixedCellColor)},
                         col, row);
}

CellAppearance GridCellPainter::bodyAppearance(int col, int row, bool selected) const {
    CellAppearance appearance =
        withOverrides({m_look.cellFont, toQColor(kCellTextColor), toQColor(kCellColor)}, col, row);
    if (selected && m_look.selectionVisible) {
        appearance.background = toQColor(kSelectionColor);
        appearance.text = Qt::black;
    }
    return appearance;
}

QString GridCellPainter::text(int col, int row) const {
    const Cell* cell = m_model.cell(col, row);
    return cell ? QString::fromStdString(cell->text) : QString();
}

const QStaticText& GridCellPainter::layout(const QString& text, int width, const QFont& font,
                                           bool wordWrap) const {
    const LayoutKey key{text, width, font.bold(), wordWrap};
    if (const auto it = m_layouts.constFind(key); it != m_layouts.cend()) {
        return *it;
    }
    if (m_layouts.size() >= kMaxLayouts) {
        m_layouts.clear();
    }
    QStaticText laidOut(text);
    laidOut.setTextFormat(Qt::PlainText);
    laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
    if (wordWrap) {
        laidOut.setTextWidth(width);
    }
    laidOut.prepare(QTransform(), font);
    return *m_layouts.insert(key, laidOut);
}

void GridCellPainter::paintFixedCell(QPainter& painter, const QRect& rect, int col, int row) const {
    const CellAppearance appearance = fixedAppearance(col, row);
    painter.fillRect(rect, appearance.background);
    painter.setPen(toQColor(kGridLineColor));
    drawRightLine(painter, rect);
    drawBottomLine(painter, rect);
    painter.setFont(appearance.font);
    painter.setPen(appearance.text);
    painter.drawText(textRect(rect), Qt::AlignLeft | Qt::AlignVCenter, text(col, row));
}

void GridCellPainter::paintBodyCell(QPainter& painter, const QRect& rect, int col, int row,
                                    bool selected, bool wordWrap) const {
    const CellAppearance appearance = bodyAppearance(col, row, selected);
    painter.fillRect(rect, appearance.background);
    if (m_look.lines != GridLines::None) {
        painter.setPen(toQColor(kGridLineColor));
        drawBottomLine(painter, rect);
        if (m_look.lines == GridLines::Both) {
            drawRightLine(painter, rect);
        }
    }
    const QString content = text(col, row);
    if (content.isEmpty()) {
        return;
    }
    const QRect area = textRect(rect).adjusted(0, kTextMarginTop, 0, 0);
    const QStaticText& laidOut = layout(content, area.width(), appearance.font, wordWrap);
    painter.setFont(appearance.font);
    painter.setPen(appearance.text);
    const QSizeF size = laidOut.size();
    if (size.width() <= area.width() && size.height() <= area.height()) {
        painter.drawStaticText(area.topLeft(), laidOut);
        return;
    }
    // The text runs over the cell: show the whole lines that fit, no line cut in half.
    const int lineHeight = QFontMetrics(appearance.font).lineSpacing();
    const int shownHeight = std::max(lineHeight, area.height() / lineHeight * lineHeight);
    painter.save();
    painter.setClipRect(
        area.adjusted(0, 0, 0, std::min(shownHeight, area.height()) - area.height()),
        Qt::IntersectClip);
    painter.drawStaticText(area.topLeft(), laidOut);
    painter.restore();
}

}  // namespace qvlink
