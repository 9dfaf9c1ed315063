#include "trace/trace_text.h"

#include <algorithm>

#include "common/cell_copy.h"
#include "common/file_output.h"
#include "protocol/packets.h"
#include "trace/trace_log.h"

namespace qvlink {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kCsvLineEnd = "\r\n";

void appendCsvField(std::string& out, std::string field, char separator) {
    std::replace_if(
        field.begin(), field.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    if (field.find_first_of(std::string{separator, '"'}) == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

}  // namespace

std::optional<TraceRecordCopy> traceRecordAt(const CellGrid& grid, int row) {
    if (row < 1 || row > grid.RowCount() - 2) {
        return std::nullopt;
    }
    TraceRecordCopy record;
    record.line = cellsAsTabSeparated(grid, {kTraceTime, row, kTraceDescription, row});
    record.ipAddr = grid.getCellText(kTraceIp, row);
    record.hexDump = grid.getCellText(kTraceDump, row);
    record.macAddr = macFromHexDump(record.hexDump);
    return record;
}

std::string traceCsvBytes(const CellGrid& grid, char separator) {
    std::string out(kUtf8ByteOrderMark);
    // The header row, then every record; the empty last row is no record.
    for (int row = 0; row <= grid.RowCount() - 2; ++row) {
        for (int col = kTraceTime; col <= kTraceDescription; ++col) {
            if (col != kTraceTime) {
                out += separator;
            }
            appendCsvField(out, grid.getCellText(col, row), separator);
        }
        out += kCsvLineEnd;
    }
    return out;
}

char csvSeparatorFor(const FormatSettings& format) {
    return format.decimalSeparator == "," ? ';' : ',';
}

void saveTraceCsv(const std::string& path, const CellGrid& grid, const FormatSettings& format) {
    saveFileBytes(path, traceCsvBytes(grid, csvSeparatorFor(format)));
}

}  // namespace qvlink
