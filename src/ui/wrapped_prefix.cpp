#include "ui/wrapped_prefix.h"

#include <QFontMetrics>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace qvlink {
namespace {

/// Latin, Latin-1 and Cyrillic: all that a hex dump, a time, an address or a description
/// from the bus holds.
constexpr char16_t kMeasuredChars = 0x500;
/// Kerning may pull a line's characters closer than their advances add up to.
constexpr float kKerningRoom = 1.1F;

}  // namespace

AdvanceTable::AdvanceTable(const QFont& font)
    : m_metrics(font),
      m_lineSpacing(QFontMetrics(font).lineSpacing()),
      m_advances(kMeasuredChars) {}

float AdvanceTable::advance(QChar c) {
    const char16_t code = c.unicode();
    if (code >= kMeasuredChars) {
        return 0.0F;
    }
    float& advance = m_advances[code];
    if (advance == 0.0F) {
        const float measured = c.isPrint() && m_metrics.inFont(c)
                                   ? static_cast<float>(m_metrics.horizontalAdvance(c))
                                   : 0.0F;
        advance = measured > 0.0F ? measured : -1.0F;
    }
    return std::max(advance, 0.0F);
}

QString wrappedPrefix(const QString& text, int width, int lines, AdvanceTable& advances) {
    // Only characters of the table: none of them turns the paragraph right-to-left.
    if (!std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() < kMeasuredChars; })) {
        return text;
    }
    // `lines` lines hold at most `lines` widths of advances and a hanging blank each; the
    // characters beyond that (with room for kerning) start another line.
    const float full = static_cast<float>(lines * width) * kKerningRoom;
    float used = 0.0F;
    float widest = 0.0F;
    QChar previous;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const float advance = advances.advance(c);
        if (advance <= 0.0F || (c == u' ' && previous == u' ')) {
            return text;
        }
        used += advance;
        widest = std::max(widest, advance);
        previous = c;
        if (used > full + static_cast<float>(lines + 2) * widest) {
            return text.left(i + 1);
        }
    }
    return text;
}

std::shared_ptr<QTextLayout> firstWrappedLines(const QString& text, int width, int lines,
                                               const QFont& font, AdvanceTable& advances) {
    const QString prefix = wrappedPrefix(text, width, lines, advances);
    if (prefix.size() == text.size()) {
        return nullptr;
    }
    auto shaped = std::make_shared<QTextLayout>(prefix, font);
    QTextLayout& layout = *shaped;
    layout.setCacheEnabled(true);
    layout.beginLayout();
    qreal top = 0.0;
    for (int i = 0; i <= lines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(0.0, top));
        top += line.height();
        if (line.leading() < 0) {
            top += std::ceil(line.leading());
        }
    }
    layout.endLayout();
    // A line n + 1 means the word that begins it did not fit on line n even in part, so it
    // does not fit whole either (more characters only widen it); the glyphs of line n are
    // placed with all their neighbours present. So lines 1 to n are those of the whole text.
    return layout.lineCount() > lines ? shaped : nullptr;
}

void drawFirstLines(QPainter& painter, const QPointF& topLeft, const QTextLayout& layout,
                    int lines) {
    for (int i = 0; i < lines && i < layout.lineCount(); ++i) {
        layout.lineAt(i).draw(&painter, topLeft);
    }
}

}  // namespace qvlink
