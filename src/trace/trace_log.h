#pragma once

// The rolling bus trace kept in the trace grid: header row, records oldest first, one
// empty last row. The grid's rows are the log; there is no second copy.

#include <string>

#include "common/bus_types.h"
#include "common/cell_grid.h"
#include "common/clock.h"
#include "common/rendering.h"

namespace qvlink {

/// The trace window's switch and filters, read afresh for every datagram.
struct TraceFilter {
    bool windowShowing = false;
    bool active = true;
    std::string ipAddr;   ///< empty: every sender; else exact, byte-for-byte match
    std::string macAddr;  ///< empty: every device; else exact match of "FA:CE:..."

    /// True when a datagram from `ipAddr` with `macAddr` is to be logged.
    bool admits(const std::string& senderIp, const std::string& senderMac) const;
};

/// Columns of a trace record.
enum TraceColumn : int { kTraceTime = 0, kTraceIp = 1, kTraceDump = 2, kTraceDescription = 3 };

/// Which filter a double-click on a trace cell fills, and with what text.
struct FilterCopy {
    enum class Field { None, Ip, Mac } field = Field::None;
    std::string text;
};

/// Double-click on a record: the IP column copies the sender into the IP filter, the dump
/// column copies the datagram's MAC text into the MAC filter; other cells copy nothing.
FilterCopy filterCopyForCell(const CellGrid& grid, int row, int col);

class TraceLog {
public:
    /// Header, 298 records and the empty last row.
    static constexpr int kMaxRowCount = 300;

    TraceLog(CellGrid& grid, Clock clock, FormatSettings format);

    /// Appends a record for an accepted datagram when the filter admits it; at the limit the
    /// oldest record goes, without moving the view.
    void addTraceRecord(const std::string& ipAddr, const TPacket& packet,
                        const TraceFilter& filter);
    /// Removes every record; the header and the empty last row stay.
    void clearTrace();

private:
    CellGrid& m_grid;
    Clock m_clock;
    FormatSettings m_format;
    std::string m_description;  // reused for every record
};

}  // namespace qvlink
