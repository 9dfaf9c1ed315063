// Fuzz target: the trace export of arbitrary cell texts. The input is a table: its first byte
// gives the column count (1..8), the rest is split into cell texts at every 0xFF byte, filled
// row by row with the first row as header. The page must keep its shape (rows * (columns + 2)
// + 2 lines, each ending CR LF) and no text may bring markup of its own into it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "ui/html_export.h"

namespace qvlink {
namespace {

constexpr char kCellSeparator = '\xFF';
constexpr int kMaxColumns = 8;

std::vector<std::string> splitCells(std::string_view input) {
    std::vector<std::string> cells;
    for (;;) {
        const std::size_t at = input.find(kCellSeparator);
        cells.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos) {
            return cells;
        }
        input.remove_prefix(at + 1);
    }
}

/// The text between a cell line's opening markup and its closing "</font>".
std::string_view cellContent(std::string_view line) {
    const std::size_t font = line.find("<font color=");
    QVLINK_FUZZ_CHECK(font != std::string_view::npos);
    const std::size_t open = line.find('>', font);
    const std::size_t close = line.rfind("</font>");
    QVLINK_FUZZ_CHECK(open != std::string_view::npos && close != std::string_view::npos &&
                      open < close);
    return line.substr(open + 1, close - open - 1);
}

/// No tag but the "<br>" of a line break, and no quote that could end an attribute.
void checkNoMarkup(std::string_view content) {
    for (std::size_t at = content.find('<'); at != std::string_view::npos;
         at = content.find('<', at + 1)) {
        QVLINK_FUZZ_CHECK(content.substr(at, 4) == "<br>");
    }
    std::size_t closes = 0;
    std::size_t breaks = 0;
    for (std::size_t at = 0; at < content.size(); ++at) {
        closes += content[at] == '>';
        breaks += content.substr(at, 4) == "<br>";
    }
    QVLINK_FUZZ_CHECK(closes == breaks);
    QVLINK_FUZZ_CHECK(content.find('"') == std::string_view::npos);
}

}  // namespace
}  // namespace qvlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qvlink;
    if (size == 0) {
        return 0;
    }
    const int columns = 1 + data[0] % kMaxColumns;
    const std::vector<std::string> cells =
        splitCells(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    HtmlTableSource source;
    source.colCount = columns;
    source.rowCount = static_cast<int>((cells.size() + columns - 1) / columns) + 1;
    source.fixedRows = 1;
    source.headerBold = (data[0] & 0x80) != 0;
    source.headerBackground = {0xD4, 0xD0, 0xC8};
    source.cellBackground = {0xFF, 0xFF, 0xFF};
    source.cellText = [&](int col, int row) {
        const auto index = static_cast<std::size_t>(row * columns + col);
        return index < cells.size() ? cells[index] : std::string();
    };

    const std::vector<std::string> lines = htmlTableLines(source);
    const std::size_t expectedLines =
        static_cast<std::size_t>(source.rowCount) * static_cast<std::size_t>(columns + 2) + 2;
    QVLINK_FUZZ_CHECK(lines.size() == expectedLines);
    std::size_t line = 1;
    for (int row = 0; row < source.rowCount; ++row) {
        QVLINK_FUZZ_CHECK(lines[line++] == "<tr>");
        for (int col = 0; col < columns; ++col) {
            const std::string_view content = cellContent(lines[line++]);
            QVLINK_FUZZ_CHECK(!content.empty());
            checkNoMarkup(content);
        }
        QVLINK_FUZZ_CHECK(lines[line++] == "</tr>");
    }
    QVLINK_FUZZ_CHECK(lines.back() == "</table>");

    // In the file every CR is part of a line end, and there is one line end per line.
    const std::string bytes = htmlTableBytes(source);
    std::size_t lineEnds = 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] == '\r') {
            QVLINK_FUZZ_CHECK(at + 1 < bytes.size() && bytes[at + 1] == '\n');
            ++lineEnds;
        }
    }
    QVLINK_FUZZ_CHECK(lineEnds == expectedLines);
    QVLINK_FUZZ_CHECK(bytes.ends_with("</table>\r\n"));
    return 0;
}
