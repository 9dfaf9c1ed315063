#pragma once

// The records of the `<prefix>/raw` topic: every datagram of the bus as the bridge captured
// it, one or more per message, each
//   version (1 byte, 1) | capture time, µs since 1970 UTC (u64 BE) | sender IPv4 (4 bytes) |
//   sender port (u16 BE) | datagram length (u16 BE) | datagram bytes

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qvlink {

inline constexpr std::uint8_t kRawRecordVersion = 1;
inline constexpr std::size_t kRawRecordHeaderSize = 1 + 8 + 4 + 2 + 2;
/// The largest payload of a UDP datagram over IPv4; a longer record cannot come from the bus.
inline constexpr std::size_t kMaxRawDatagramSize = 65507;

/// One captured datagram. The bytes are a view into the buffer it was read from.
struct RawRecord {
    std::uint64_t captureMicros = 0;  ///< µs since 1970 UTC
    std::uint32_t senderIp = 0;       ///< host order
    std::uint16_t senderPort = 0;
    std::span<const std::uint8_t> datagram;
};

/// Appends one record to `message`. A datagram longer than kMaxRawDatagramSize is not
/// appended (false): no reader would accept it.
bool appendRawRecord(std::vector<std::uint8_t>& message, const RawRecord& record);

/// Why a message was not read to its end.
enum class RawMessageFault {
    None,
    Empty,            ///< a message without any record
    UnknownVersion,   ///< a record of another version than 1
    TruncatedHeader,  ///< the message ends inside a record's header
    OversizeLength,   ///< a length no UDP datagram over IPv4 can have
    TruncatedBody,    ///< the message ends before the datagram's stated length
};

inline constexpr std::size_t kRawMessageFaultCount = 6;

/// A short English name of the fault, for logs and counters.
const char* rawMessageFaultName(RawMessageFault fault);

struct RawMessageSummary {
    std::size_t records = 0;  ///< records delivered
    RawMessageFault fault = RawMessageFault::None;
};

/// Reads the records of one message in order and calls `onRecord` for each. The first faulty
/// record ends the reading: the records before it were delivered, nothing after it is.
RawMessageSummary readRawRecords(std::span<const std::uint8_t> message,
                                 const std::function<void(const RawRecord&)>& onRecord);

}  // namespace qvlink
