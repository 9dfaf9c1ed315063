#pragma once

// A grid written as a bare HTML table: the file that the trace export produces. Plain C++
// without Qt, so that the file can be built and checked (or fuzzed) without a window.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvlink {

/// A colour already resolved to its red, green and blue components.
struct RgbColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

/// What the export reads from a grid.
struct HtmlTableSource {
    int colCount = 0;
    /// Rows written, fixed rows included.
    int rowCount = 0;
    /// Leading rows written as header cells (fixed colour, fixed font).
    int fixedRows = 0;
    /// The fixed font is bold: header texts are wrapped in <b>.
    bool headerBold = true;
    RgbColor headerBackground;
    RgbColor cellBackground;
    RgbColor textColor;
    /// UTF-8 text of cell (col, row); empty for a cell never written.
    std::function<std::string(int col, int row)> cellText;
};

/// Cell text as HTML: CR becomes a line break tag, and &, <, > and " become entities, so
/// that no text from the bus can inject markup into the page.
std::string escapeHtmlCellText(std::string_view text);

/// The lines of the file in UTF-8, without line ends.
std::vector<std::string> htmlTableLines(const HtmlTableSource& source);

/// The file's bytes: every line in Windows-1251, each followed by CR LF.
std::string htmlTableBytes(const HtmlTableSource& source);

/// Creates or replaces `path` and writes the table into it, failing as saveFileBytes does.
void saveHtmlTable(const std::string& path, const HtmlTableSource& source);

}  // namespace qvlink
