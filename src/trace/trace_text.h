#pragma once

// The trace's records as text for the clipboard and as a CSV file, read from the trace grid.

#include <optional>
#include <string>

#include "common/cell_grid.h"
#include "common/rendering.h"

namespace qvlink {

/// One record as its context menu found it. Copied out when the menu opens, so that the menu
/// acts on that record even when newer ones have moved or removed its row since.
struct TraceRecordCopy {
    /// "time<TAB>IP<TAB>hex<TAB>description".
    std::string line;
    std::string ipAddr;
    std::string hexDump;
    /// The MAC text of the datagram, as the MAC filter takes it.
    std::string macAddr;
};

/// The record in grid row `row`; nothing for the header and the empty last row.
std::optional<TraceRecordCopy> traceRecordAt(const CellGrid& grid, int row);

/// The CSV file of the trace: a UTF-8 byte order mark (so that spreadsheets read the Cyrillic
/// right), the column captions, then one line per record, oldest first, each ended by CR LF.
/// Fields are separated by `separator`; one holding it or a quote is quoted, quotes doubled;
/// line breaks inside a field become spaces, so every record stays on one line.
std::string traceCsvBytes(const CellGrid& grid, char separator);

/// The list separator spreadsheets of the user's locale expect: ';' where numbers are written
/// with a decimal comma, ',' elsewhere.
char csvSeparatorFor(const FormatSettings& format);

/// Writes traceCsvBytes to `path`, failing as saveFileBytes does.
void saveTraceCsv(const std::string& path, const CellGrid& grid, const FormatSettings& format);

}  // namespace qvlink
