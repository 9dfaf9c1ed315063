#pragma once

// A cell shows only the first lines of a wrapped text, and shaping costs in proportion to the
// text's length: a 720-character hex dump takes four times the work of the line that shows.
// So only a beginning of such a text is shaped, one long enough that its first lines wrap
// exactly as in the whole text.

#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <QTextLayout>
#include <memory>
#include <vector>

namespace qvlink {

/// Advances of the characters U+0000 to U+04FF in one font, measured when first met, and the
/// font's line spacing: what laying out and drawing a cell's text asks of the font again and
/// again.
class AdvanceTable {
public:
    explicit AdvanceTable(const QFont& font);

    /// Whole pixels from one line to the next, as QFontMetrics gives it.
    int lineSpacing() const { return m_lineSpacing; }

    /// The character's advance, or 0 for one that could wrap unpredictably: a character
    /// outside the table, one that does not print, or one the font lacks (another font,
    /// with other line heights, would draw it).
    float advance(QChar c);

private:
    QFontMetricsF m_metrics;
    int m_lineSpacing;
    std::vector<float> m_advances;  ///< 0: not yet measured, below 0: not usable
};

/// A beginning of `text` long enough to go past its first `lines` lines when wrapped at word
/// boundaries to `width`, or the whole text when no shorter one can be vouched for (a text of
/// other characters, or with runs of blanks, which hang at line ends).
QString wrappedPrefix(const QString& text, int width, int lines, AdvanceTable& advances);

/// A beginning of `text` wrapped at word boundaries to `width` in `font`, whose first `lines`
/// lines are those of the whole text (lines laid out as QStaticText lays them out, origin at
/// the top left of the first line). Nothing when the text is no longer than that beginning,
/// or when the beginning does not start another line after them (kerning can squeeze more
/// characters into a line than their advances say).
std::shared_ptr<QTextLayout> firstWrappedLines(const QString& text, int width, int lines,
                                               const QFont& font, AdvanceTable& advances);

/// Draws the first `lines` lines of a layout made by firstWrappedLines.
void drawFirstLines(QPainter& painter, const QPointF& topLeft, const QTextLayout& layout,
                    int lines);

}  // namespace qvlink
