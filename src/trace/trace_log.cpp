#include "trace/trace_log.h"

#include "protocol/description.h"
#include "protocol/packets.h"

namespace qvlink {

bool TraceFilter::admits(const std::string& senderIp, const std::string& senderMac) const {
    if (!windowShowing || !active) {
        return false;
    }
    if (!ipAddr.empty() && senderIp != ipAddr) {
        return false;
    }
    return macAddr.empty() || senderMac == macAddr;
}

FilterCopy filterCopyForCell(const CellGrid& grid, int row, int col) {
    if (row < 1) {
        return {};
    }
    if (col == kTraceIp) {
        return {FilterCopy::Field::Ip, grid.getCellText(kTraceIp, row)};
    }
    if (col == kTraceDump) {
        return {FilterCopy::Field::Mac, macFromHexDump(grid.getCellText(kTraceDump, row))};
    }
    return {};
}

TraceLog::TraceLog(CellGrid& grid, Clock clock, FormatSettings format)
    : m_grid(grid), m_clock(std::move(clock)), m_format(std::move(format)) {}

void TraceLog::addTraceRecord(const std::string& ipAddr, const TPacket& packet,
                              const TraceFilter& filter) {
    if (!filter.admits(ipAddr, packet.macAddr)) {
        return;
    }
    m_grid.addRow();
    m_grid.setCurrentRow(m_grid.RowCount() - 2);
    const int row = m_grid.currentRow();
    m_grid.setCellText(kTraceTime, row, timeOfDayText(m_clock(), m_format));
    m_grid.setCellText(kTraceIp, row, ipAddr);
    m_grid.setCellText(kTraceDump, row, packet.hexDump);
    m_description.clear();
    appendPacketDescription(packet, m_format, m_description);
    m_grid.setCellText(kTraceDescription, row, m_description);
    if (m_grid.RowCount() > kMaxRowCount) {
        m_grid.removeRows(1, 1);
    }
}

void TraceLog::clearTrace() {
    m_grid.removeRows(1, m_grid.RowCount() - 2);
}

}  // namespace qvlink
