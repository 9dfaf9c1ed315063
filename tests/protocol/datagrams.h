#pragma once

// Builders of bus datagrams for the protocol tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/packets.h"

namespace qvlink::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::initializer_list<int> values) {
    Bytes bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

/// A sequenced-type datagram from address 00 11 22 with the given header and payload.
inline Bytes datagram(std::uint8_t type, std::uint8_t msgClass, std::uint8_t subtype,
                      const Bytes& payload, std::uint8_t seq = 5) {
    Bytes bytes = bytesOf({0xFA, 0xCE, type, 0x00, 0x11, 0x22, seq, msgClass, subtype});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

inline TPacket parsed(const Bytes& bytes) {
    TPacket packet;
    EXPECT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    return packet;
}

}  // namespace qvlink::test
