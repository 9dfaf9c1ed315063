#pragma once

// Framing of the datagrams the monitor sends itself.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bus_types.h"

namespace qvlink {

using DatagramArea = std::array<std::uint8_t, kMaxDatagramSize>;

/// Framing overhead of a command: 9 header bytes and 6 zero trailer bytes.
inline constexpr std::size_t kCommandOverhead = 15;

/// Frames command datagrams with the rolling 8-bit sequence counter that every datagram
/// framed by one instance shares (0 first, 255 followed by 0).
class CommandFramer {
public:
    /// Writes the framed datagram into `out` and advances the counter. False, with nothing
    /// written and the counter unchanged, when it would not fit into 240 bytes.
    bool buildPacket(std::uint8_t msgClass, std::uint8_t subtype, const std::uint8_t* body,
                     std::size_t bodyLength, DatagramArea& out, std::size_t& length);

    /// The change-IP command: body "<MAC> <IP>\0" in Windows-1251, class 6, subtype 10.
    /// False when the texts are too long for one datagram (nothing framed).
    bool buildSetIpCommand(std::string_view macText, std::string_view ipText, DatagramArea& out,
                           std::size_t& length);

private:
    std::uint8_t m_sequence = 0;
};

}  // namespace qvlink
