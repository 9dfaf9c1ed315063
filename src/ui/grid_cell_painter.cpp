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

// The one-pixel lines are filled as rectangles: the same pixels as a drawn line, at a
// fraction of the cost in a frame of the trace.
void drawRightLine(QPainter& painter, const QRect& rect, const QColor& color) {
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), color);
}

void drawBottomLine(QPainter& painter, const QRect& rect, const QColor& color) {
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), color);
}

/// The part of a text area that shows whole lines only: at least one, none cut in half.
QRect shownLinesArea(const QRect& area, int lineHeight) {
    const int shownHeight = std::max(lineHeight, area.height() / lineHeight * lineHeight);
    return area.adjusted(0, 0, 0, std::min(shownHeight, area.height()) - area.height());
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

AdvanceTable& GridCellPainter::advances(const QFont& font) const {
    std::optional<AdvanceTable>& table = m_advances[font.bold() ? 1 : 0];
    if (!table) {
        table.emplace(font);
    }
    return *table;
}

const GridCellPainter::LaidOutText& GridCellPainter::layout(const QString& text, QSize area,
                                                            const QFont& font,
                                                            bool wordWrap) const {
    const int lines = std::max(1, area.height() / advances(font).lineSpacing());
    const LayoutKey key{text, area.width(), lines, font.bold(), wordWrap};
    if (const auto it = m_layouts.constFind(key); it != m_layouts.cend()) {
        return *it;
    }
    if (m_layouts.size() >= kMaxLayouts) {
        m_layouts.clear();
    }
    LaidOutText laidOut;
    // A long wrapped text (a hex dump) shows only its first lines: only a beginning of it is
    // shaped, and only the lines that show are kept.
    if (wordWrap) {
        laidOut.beginning = firstWrappedLines(text, area.width(), lines, font, advances(font));
        laidOut.lines = lines;
    }
    if (!laidOut.beginning) {
        laidOut.whole.setText(text);
        laidOut.whole.setTextFormat(Qt::PlainText);
        laidOut.whole.setPerformanceHint(QStaticText::AggressiveCaching);
        if (wordWrap) {
            laidOut.whole.setTextWidth(area.width());
        }
        laidOut.whole.prepare(QTransform(), font);
    }
    return *m_layouts.insert(key, laidOut);
}

void GridCellPainter::paintFixedCell(QPainter& painter, const QRect& rect, int col, int row) const {
    const CellAppearance appearance = fixedAppearance(col, row);
    painter.fillRect(rect, appearance.background);
    const QColor line = toQColor(kGridLineColor);
    drawRightLine(painter, rect, line);
    drawBottomLine(painter, rect, line);
    painter.setFont(appearance.font);
    painter.setPen(appearance.text);
    painter.drawText(textRect(rect), Qt::AlignLeft | Qt::AlignVCenter, text(col, row));
}

void GridCellPainter::paintBodyCell(QPainter& painter, const QRect& rect, int col, int row,
                                    bool selected, bool wordWrap) const {
    const CellAppearance appearance = bodyAppearance(col, row, selected);
    painter.fillRect(rect, appearance.background);
    if (m_look.lines != GridLines::None) {
        const QColor line = toQColor(kGridLineColor);
        drawBottomLine(painter, rect, line);
        if (m_look.lines == GridLines::Both) {
            drawRightLine(painter, rect, line);
        }
    }
    const QString content = text(col, row);
    if (content.isEmpty()) {
        return;
    }
    const QRect area = textRect(rect).adjusted(0, kTextMarginTop, 0, 0);
    const LaidOutText& laidOut = layout(content, area.size(), appearance.font, wordWrap);
    painter.setFont(appearance.font);
    painter.setPen(appearance.text);
    const QSizeF size = laidOut.whole.size();
    if (!laidOut.beginning && size.width() <= area.width() && size.height() <= area.height()) {
        painter.drawStaticText(area.topLeft(), laidOut.whole);
        return;
    }
    // The text runs over the cell: show the whole lines that fit, no line cut in half.
    painter.save();
    painter.setClipRect(shownLinesArea(area, advances(appearance.font).lineSpacing()),
                        Qt::IntersectClip);
    if (laidOut.beginning) {
        drawFirstLines(painter, area.topLeft(), *laidOut.beginning, laidOut.lines);
    } else {
        painter.drawStaticText(area.topLeft(), laidOut.whole);
    }
    painter.restore();
}

}  // namespace qvlink
