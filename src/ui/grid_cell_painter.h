#pragma once

// How a grid draws its cells. The body delegate, the two headers and the corner cell all
// paint through this one class, so fixed and normal cells follow the same rules.

#include <QColor>
#include <QFont>
#include <QHash>
#include <QRect>
#include <QStaticText>
#include <array>
#include <memory>
#include <optional>

#include "ui/grid_model.h"
#include "ui/wrapped_prefix.h"

class QPainter;

namespace qvlink {

/// Lines between normal cells; fixed cells always have lines in both directions.
enum class GridLines { None, Horizontal, Both };

/// The drawing settings of one grid.
struct GridLook {
    QFont cellFont;
    QFont fixedFont;
    GridLines lines = GridLines::Both;
    /// False: selected cells are drawn like the others.
    bool selectionVisible = true;
};

/// Font and colours that one cell is drawn with, its overrides applied.
struct CellAppearance {
    QFont font;
    QColor text;
    QColor background;
};

class GridCellPainter {
public:
    GridCellPainter(const GridModel& model, const GridLook& look);

    /// Starts from the fixed font and colour, then applies the cell's overrides.
    CellAppearance fixedAppearance(int col, int row) const;
    /// Starts from the column's font and colour, then applies the cell's overrides; a
    /// visible selection replaces the background and draws the text black.
    CellAppearance bodyAppearance(int col, int row, bool selected) const;

    void paintFixedCell(QPainter& painter, const QRect& rect, int col, int row) const;
    void paintBodyCell(QPainter& painter, const QRect& rect, int col, int row, bool selected,
                       bool wordWrap) const;
    /// Drops the laid-out texts; needed after the fonts change.
    void forgetLayouts() {
        m_layouts.clear();
        m_advances = {};
    }

private:
    /// What a laid-out text depends on besides the font, which is the cell font or its bold.
    struct LayoutKey {
        QString text;
        int width;
        int lines;  ///< lines the cell shows
        bool bold;
        bool wordWrap;
        bool operator==(const LayoutKey&) const = default;
        friend size_t qHash(const LayoutKey& key, size_t seed) {
            return qHashMulti(seed, key.text, key.width, key.lines, key.bold, key.wordWrap);
        }
    };

    /// A text ready to draw: shaped whole, or only its shown lines when it is long.
    struct LaidOutText {
        QStaticText whole;
        /// For a text cut to a beginning: its first `lines` lines are those that show.
        std::shared_ptr<QTextLayout> beginning;
        int lines = 0;
    };

    CellAppearance withOverrides(CellAppearance base, int col, int row) const;
    QString text(int col, int row) const;
    /// The text shaped and wrapped once and kept: the trace repaints the same texts in
    /// every frame while its rows move up. `area` is where the cell's text may go.
    const LaidOutText& layout(const QString& text, QSize area, const QFont& font,
                              bool wordWrap) const;
    AdvanceTable& advances(const QFont& font) const;

    const GridModel& m_model;
    const GridLook& m_look;
    mutable QHash<LayoutKey, LaidOutText> m_layouts;
    /// Character advances in the cell font and in its bold, made when first needed.
    mutable std::array<std::optional<AdvanceTable>, 2> m_advances;
};

}  // namespace qvlink
