#include "mqtt/raw_records.h"

namespace qvlink {
namespace {

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint64_t readBigEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) {
        value = (value << 8) | byte;
    }
    return value;
}

}  // namespace

bool appendRawRecord(std::vector<std::uint8_t>& message, const RawRecord& record) {
    if (record.datagram.size() > kMaxRawDatagramSize) {
        return false;
    }
    message.push_back(kRawRecordVersion);
    appendBigEndian(message, record.captureMicros, 8);
    appendBigEndian(message, record.senderIp, 4);
    appendBigEndian(message, record.senderPort, 2);
    appendBigEndian(message, record.datagram.size(), 2);
    message.insert(message.end(), record.datagram.begin(), record.datagram.end());
    return true;
}

const char* rawMessageFaultName(RawMessageFault fault) {
    switch (fault) {
        case RawMessageFault::None:
            return "none";
        case RawMessageFault::Empty:
            return "empty message";
        case RawMessageFault::UnknownVersion:
            return "unknown record version";
        case RawMessageFault::TruncatedHeader:
            return "truncated record header";
        case RawMessageFault::OversizeLength:
            return "oversize datagram length";
        case RawMessageFault::TruncatedBody:
            return "truncated datagram";
    }
    return "unknown";
}

RawMessageSummary readRawRecords(std::span<const std::uint8_t> message,
                                 const std::function<void(const RawRecord&)>& onRecord) {
    RawMessageSummary summary;
    if (message.empty()) {
        summary.fault = RawMessageFault::Empty;
        return summary;
    }
    while (!message.empty()) {
        if (message[0] != kRawRecordVersion) {
            summary.fault = RawMessageFault::UnknownVersion;
            return summary;
        }
        if (message.size() < kRawRecordHeaderSize) {
            summary.fault = RawMessageFault::TruncatedHeader;
            return summary;
        }
        RawRecord record;
        record.captureMicros = readBigEndian(message.subspan(1, 8));
        record.senderIp = static_cast<std::uint32_t>(readBigEndian(message.subspan(9, 4)));
        record.senderPort = static_cast<std::uint16_t>(readBigEndian(message.subspan(13, 2)));
        const std::size_t length = readBigEndian(message.subspan(15, 2));
        if (length > kMaxRawDatagramSize) {
            summary.fault = RawMessageFault::OversizeLength;
            return summary;
        }
        if (message.size() - kRawRecordHeaderSize < length) {
            summary.fault = RawMessageFault::TruncatedBody;
            return summary;
        }
        record.datagram = message.subspan(kRawRecordHeaderSize, length);
        onRecord(record);
        ++summary.records;
        message = message.subspan(kRawRecordHeaderSize + length);
    }
    return summary;
}

}  // namespace qvlink
