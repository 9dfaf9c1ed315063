#pragma once

#include <bit>
#include <cstdint>

#include "common/bus_types.h"

namespace qvlink {

/// Reads little-endian values from a datagram's payload area. Every byte at or past the end
/// of the area (or before its start) reads as 0, so a walk over a truncated or unterminated
/// item list never leaves the area.
class PayloadReader {
public:
    explicit PayloadReader(const PayloadArea& area) : m_area(area) {}

    std::uint8_t byte(int pos) const {
        return pos >= 0 && pos < static_cast<int>(m_area.size())
                   ? m_area[static_cast<std::size_t>(pos)]
                   : 0;
    }

    std::uint16_t u16(int pos) const {
        return static_cast<std::uint16_t>(byte(pos) | (byte(pos + 1) << 8));
    }

    std::uint32_t u32(int pos) const {
        return static_cast<std::uint32_t>(u16(pos)) |
               (static_cast<std::uint32_t>(u16(pos + 2)) << 16);
    }

    /// IEEE-754 single precision, little-endian.
    float f32(int pos) const { return std::bit_cast<float>(u32(pos)); }

private:
    const PayloadArea& m_area;
};

}  // namespace qvlink
