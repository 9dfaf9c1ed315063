#include "ui/html_export.h"

#include <cstdio>

#include "common/cp1251.h"
#include "common/file_output.h"

namespace qvlink {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTableStart =
    R"(<table border="1" cellspacing="0" cellpadding="0"  width="100%">)";
/// An empty cell keeps its borders in every browser only when it holds something.
constexpr std::string_view kEmptyCell = "<br>";

/// "#RRGGBB" in upper-case hexadecimal.
std::string htmlColor(RgbColor color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", color.red, color.green, color.blue);
    return text;
}

std::string cellContent(const HtmlTableSource& source, int col, int row) {
    const std::string escaped = escapeHtmlCellText(source.cellText(col, row));
    return escaped.empty() ? std::string(kEmptyCell) : escaped;
}

std::string headerCellLine(const HtmlTableSource& source, int col, int row) {
    const std::string open = source.headerBold ? "<b>" : "";
    const std::string close = source.headerBold ? "</b>" : "";
    return "<td bgcolor=\"" + htmlColor(source.headerBackground) + "\">" + open + "<font color=\"" +
           htmlColor(source.textColor) + "\">" + cellContent(source, col, row) + "</font>" + close +
           "</td>";
}

/// The blank before '>' separates the colour from a face attribute that is never written.
std::string dataCellLine(const HtmlTableSource& source, int col, int row) {
    return "<td bgcolor=\"" + htmlColor(source.cellBackground) + "\"><font color=\"" +
           htmlColor(source.textColor) + "\" >" + cellContent(source, col, row) + "</font></td>";
}

}  // namespace

std::string escapeHtmlCellText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\r':
                out += "<br>";
                break;
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::string> htmlTableLines(const HtmlTableSource& source) {
    std::vector<std::string> lines;
    lines.reserve(2 + static_cast<std::size_t>(source.rowCount) * (source.colCount + 2));
    lines.emplace_back(kTableStart);
    for (int row = 0; row < source.rowCount; ++row) {
        lines.emplace_back("<tr>");
        for (int col = 0; col < source.colCount; ++col) {
            lines.push_back(row < source.fixedRows ? headerCellLine(source, col, row)
                                                   : dataCellLine(source, col, row));
        }
        lines.emplace_back("</tr>");
    }
    lines.emplace_back("</table>");
    return lines;
}

std::string htmlTableBytes(const HtmlTableSource& source) {
    std::string bytes;
    for (const std::string& line : htmlTableLines(source)) {
        bytes += encodeCp1251(line);
        bytes += kLineEnd;
    }
    return bytes;
}

void saveHtmlTable(const std::string& path, const HtmlTableSource& source) {
    saveFileBytes(path, htmlTableBytes(source));
}

}  // namespace qvlink
