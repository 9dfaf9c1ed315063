#pragma once

// Parsing of received bus datagrams.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bus_types.h"

namespace qvlink {

/// Outcome of the reception checks, in the order the pipeline applies them.
enum class DatagramVerdict : std::uint8_t {
    Accepted,
    TooLong,      ///< more than kMaxDatagramSize bytes
    NoMagic,      ///< fewer than two bytes, or not starting FA CE
    TooShort,     ///< fewer than kMinDatagramSize bytes
    UnknownType,  ///< device type outside the table
};

/// Applies every check the reception pipeline makes before a datagram is processed.
DatagramVerdict classifyDatagram(const std::uint8_t* data, std::size_t size);

/// Short English name of a verdict ("accepted", "too long", "bad magic", ...).
const char* verdictText(DatagramVerdict verdict);

/// Decodes a datagram whose magic the caller has checked. False, with the packet untouched,
/// for fewer than 10 or more than 240 bytes or an unknown device type: the caller drops it.
bool parsePacket(const std::uint8_t* data, std::size_t size, TPacket& packet);

/// The first 17 characters of a hex dump with every blank replaced by ":".
std::string macFromHexDump(std::string_view hexDump);

/// Appends "XX " per byte (upper-case hex) to `out`.
void appendHexDump(const std::uint8_t* data, std::size_t size, std::string& out);

}  // namespace qvlink
