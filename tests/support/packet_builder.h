#pragma once

// Builds raw bus datagrams for tests: header fields plus payload bytes.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "common/bus_types.h"

namespace qvlink::test {

/// A datagram of a sequenced type: FA CE type addr[3] seq class subtype payload...
inline std::vector<std::uint8_t> sequencedDatagram(std::uint8_t type, std::uint32_t address,
                                                   std::uint8_t seq, std::uint8_t msgClass,
                                                   std::uint8_t subtype,
                                                   std::initializer_list<std::uint8_t> payload) {
    const std::uint8_t header[] = {kMagic0,
                                   kMagic1,
                                   type,
                                   static_cast<std::uint8_t>(address >> 16),
                                   static_cast<std::uint8_t>(address >> 8),
                                   static_cast<std::uint8_t>(address),
                                   seq,
                                   msgClass,
                                   subtype};
    // Sized once and filled: g++ 12 at -O3 reports an insert that grows a vector as out of
    // bounds (a false -Warray-bounds of its inliner).
    std::vector<std::uint8_t> bytes(std::size(header) + payload.size());
    std::copy(payload.begin(), payload.end(),
              std::copy(std::begin(header), std::end(header), bytes.begin()));
    return bytes;
}

/// A datagram of a class-only type: FA CE type addr[3] class, padded to the minimum length.
inline std::vector<std::uint8_t> classOnlyDatagram(std::uint8_t type, std::uint32_t address,
                                                   std::uint8_t msgClass) {
    std::vector<std::uint8_t> bytes = sequencedDatagram(type, address, msgClass, 0, 0, {0});
    return bytes;
}

}  // namespace qvlink::test
