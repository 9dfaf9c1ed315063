#include "device_identity.h"

#include "common/bus_types.h"
#include "protocol/packets.h"

namespace qvlink::sim {
namespace {

/// Telemechanics controllers dominate a typical bus; every type appears in the first eight.
constexpr std::array<std::uint8_t, 12> kDefaultMix{16, 1, 17, 18, 33, 34, 8, 204, 16, 1, 16, 17};

/// First address byte of simulated devices, so they are easy to tell from real ones.
constexpr std::uint8_t kSimAddressPrefix = 0x5A;

}  // namespace

std::string DeviceIdentity::macText() const {
    const std::array<std::uint8_t, 6> head{kMagic0,    kMagic1,    type,
                                           address[0], address[1], address[2]};
    std::string dump;
    appendHexDump(head.data(), head.size(), dump);
    return macFromHexDump(dump);
}

DeviceIdentity makeIdentity(std::uint8_t type, int number) {
    return {type,
            {kSimAddressPrefix, static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number & 0xFF)}};
}

std::vector<std::uint8_t> deviceTypeMix(int count, const std::vector<std::uint8_t>& chosen) {
    std::vector<std::uint8_t> types;
    types.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        types.push_back(chosen.empty() ? kDefaultMix[at % kDefaultMix.size()]
                                       : chosen[at % chosen.size()]);
    }
    return types;
}

}  // namespace qvlink::sim
