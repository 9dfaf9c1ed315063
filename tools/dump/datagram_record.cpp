#include "dump/datagram_record.h"

#include <cstdio>
#include <utility>

#include "protocol/description.h"
#include "protocol/packets.h"

namespace qvlink::dump {

namespace {

DumpStatus statusOf(DatagramVerdict verdict) {
    switch (verdict) {
        case DatagramVerdict::Accepted:
            return DumpStatus::Accepted;
        case DatagramVerdict::TooLong:
            return DumpStatus::TooLong;
        case DatagramVerdict::NoMagic:
            return DumpStatus::NoMagic;
        case DatagramVerdict::TooShort:
            return DumpStatus::TooShort;
        case DatagramVerdict::UnknownType:
            return DumpStatus::UnknownType;
    }
    return DumpStatus::UnknownType;
}

void setIpText(std::uint32_t ip, std::string& out) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip >> 24) & 0xFFu,
                                     (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu);
    out.assign(text, static_cast<std::size_t>(length));
}

}  // namespace

const char* statusText(DumpStatus status) {
    switch (status) {
        case DumpStatus::Accepted:
            return verdictText(DatagramVerdict::Accepted);
        case DumpStatus::TooLong:
            return verdictText(DatagramVerdict::TooLong);
        case DumpStatus::NoMagic:
            return verdictText(DatagramVerdict::NoMagic);
        case DumpStatus::TooShort:
            return verdictText(DatagramVerdict::TooShort);
        case DumpStatus::UnknownType:
            return verdictText(DatagramVerdict::UnknownType);
        case DumpStatus::Fragment:
            return "fragment";
        case DumpStatus::Truncated:
            return "truncated";
    }
    return "";
}

RecordBuilder::RecordBuilder(FormatSettings format) : m_format(std::move(format)) {}

void RecordBuilder::build(const timeval& timestamp, const capture::FrameDatagram& frame,
                          DatagramRecord& record) {
    setTime(timestamp, record);
    setIpText(frame.sourceIp, record.ipText);
    record.description.clear();

    if (frame.kind == capture::FrameKind::Fragment) {
        record.status = DumpStatus::Fragment;
    } else if (frame.kind == capture::FrameKind::Truncated) {
        // The monitor refuses an overlong datagram whatever its bytes; a shorter one cannot
        // be judged from part of it.
        record.status =
            frame.datagramSize > kMaxDatagramSize ? DumpStatus::TooLong : DumpStatus::Truncated;
    } else {
        record.status = statusOf(classifyDatagram(frame.payload, frame.capturedSize));
        if (record.status == DumpStatus::Accepted &&
            !parsePacket(frame.payload, frame.capturedSize, record.packet)) {
            record.status = DumpStatus::UnknownType;
        }
    }

    record.hexDump.clear();
    if (record.status == DumpStatus::Accepted) {
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
