#pragma once

// Builds raw bus datagrams for tests: header fields plus payload bytes.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "common/bus_types.h"

namespace qvlink::test {

/// A datagram of a sequenced type: FA CE type addr[3] seq class subtype payload...
inline std::vector<std::uint8_t> sequencedDatagram(std::uint8_t type, std::uint32_t address,
                                                   std::uint8_t seq, std::uint8_t msgClass,
                                                   std::uint8_t subtype,
                                                   std::initializer_list<std::uint8_t> payload) {
    std::vector<std::uint8_t> bytes{kMagic0,
                                    kMagic1,
                                    type,
                                    static_cast<std::uint8_t>(address >> 16),
                                    static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address),
                                    seq,
                                    msgClass,
                                    subtype};
    bytes.insert(bytes.end(), payload);
    return bytes;
}

/// A datagram of a class-only type: FA CE type addr[3] class, padded to the minimum length.
inline std::vector<std::uint8_t> classOnlyDatagram(std::uint8_t type, std::uint32_t address,
                                                   std::uint8_t msgClass) {
    std::vector<std::uint8_t> bytes = sequencedDatagram(type, address, msgClass, 0, 0, {0});
    return bytes;
}

}  // namespace qvlink::test
