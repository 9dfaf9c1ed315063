#include "dump/datagram_record.h"

#include <cstdio>
#include <utility>

#include "protocol/description.h"
#include "protocol/packets.h"

namespace qvlink::dump {

namespace {

void setIpText(std::uint32_t ip, std::string& out) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip >> 24) & 0xFFu,
                                     (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu);
    out.assign(text, static_cast<std::size_t>(length));
}

}  // namespace

const char* statusText(std::optional<DropReason> dropped) {
    return dropped ? dropReasonName(*dropped) : verdictText(DatagramVerdict::Accepted);
}

RecordBuilder::RecordBuilder(FormatSettings format) : m_format(std::move(format)) {}

void RecordBuilder::build(const timeval& timestamp, const capture::FrameDatagram& frame,
                          DatagramRecord& record) {
    setTime(timestamp, record);
    record.timeMs = std::int64_t{timestamp.tv_sec} * 1000 + timestamp.tv_usec / 1000;
    record.size = frame.datagramSize;
    setIpText(frame.sourceIp, record.ipText);
    record.description.clear();

    if (frame.kind == capture::FrameKind::Fragment) {
        record.dropped = DropReason::Fragment;
    } else if (frame.kind == capture::FrameKind::Truncated) {
        // The monitor refuses an overlong datagram whatever its bytes; a shorter one cannot
        // be judged from part of it.
        record.dropped =
            frame.datagramSize > kMaxDatagramSize ? DropReason::TooLong : DropReason::Truncated;
    } else {
        record.dropped = dropReasonOf(classifyDatagram(frame.payload, frame.capturedSize));
        if (!record.dropped && !parsePacket(frame.payload, frame.capturedSize, record.packet)) {
            record.dropped = DropReason::UnknownType;
        }
    }

    record.hexDump.clear();
    if (!record.dropped) {
        record.hexDump.append(record.packet.hexDump);
        record.description = describePacket(record.packet, m_format);
    } else {
        appendHexDump(frame.payload, frame.capturedSize, record.hexDump);
    }
    if (!record.hexDump.empty()) {
        record.hexDump.pop_back();  // the trace's dump ends in a blank; a column should not
    }
}

// Local time conversion is the costly part of a record; datagrams come many to a second.
void RecordBuilder::setTime(const timeval& timestamp, DatagramRecord& record) {
    if (timestamp.tv_sec != m_cachedSecond) {
        m_cachedSecond = timestamp.tv_sec;
        std::tm local{};
        localtime_r(&m_cachedSecond, &local);
        m_cachedTime = LocalDateTime{local.tm_year + 1900,
                                     local.tm_mon + 1,
                                     local.tm_mday,
                                     local.tm_hour,
                                     local.tm_min,
                                     local.tm_sec,
                                     0};
        char date[32];
        const int length = std::snprintf(date, sizeof date, "%04d-%02d-%02d", m_cachedTime.year,
                                         m_cachedTime.month, m_cachedTime.day);
        m_cachedDate.assign(date, static_cast<std::size_t>(length));
    }
    record.time = m_cachedTime;
    record.time.msec = static_cast<int>(timestamp.tv_usec / 1000);
    record.dateText = m_cachedDate;
    record.timeText = timeOfDayText(record.time, m_format);
}

}  // namespace qvlink::dump
