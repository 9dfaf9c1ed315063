#pragma once

// Who a simulated device is on the wire: its type code and three address bytes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvlink::sim {

struct DeviceIdentity {
    std::uint8_t type = 0;
    std::array<std::uint8_t, 3> address{};

    /// "FA:CE:TT:AA:BB:CC", the text a monitor keys the device by.
    std::string macText() const;
};

/// The identity of device `number` (1-based): its number in the last two address bytes.
DeviceIdentity makeIdentity(std::uint8_t type, int number);

/// Type codes for `count` devices: `chosen` repeated in turn, or when it is empty a mix in
/// which the first eight devices cover all eight types and the common kinds repeat.
std::vector<std::uint8_t> deviceTypeMix(int count, const std::vector<std::uint8_t>& chosen);

}  // namespace qvlink::sim
