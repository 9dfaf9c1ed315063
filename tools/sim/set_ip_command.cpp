#include "set_ip_command.h"

#include <algorithm>

#include "common/bus_types.h"
#include "common/cp1251.h"

namespace qvlink::sim {

bool parseSetIpCommand(std::span<const std::uint8_t> datagram, SetIpCommand& command) {
    if (datagram.size() <= kPayloadOffset || datagram.size() > kMaxDatagramSize ||
        datagram[0] != kMagic0 || datagram[1] != kMagic1) {
        return false;
    }
    const auto addressing =
        datagram.subspan(kOffsetDeviceType, kOffsetSequence - kOffsetDeviceType);
    if (std::any_of(addressing.begin(), addressing.end(), [](std::uint8_t b) { return b != 0; }) ||
        datagram[kOffsetClass] != kClassText || datagram[kOffsetSubtype] != kSubtypeSetIp) {
        return false;
    }
    const auto body = datagram.subspan(kPayloadOffset);
    const auto end = std::find(body.begin(), body.end(), std::uint8_t{0});
    const std::string text = decodeCp1251(
        {reinterpret_cast<const char*>(body.data()), static_cast<std::size_t>(end - body.begin())});
    const auto space = text.find(' ');
    if (space == std::string::npos || space == 0 || space + 1 == text.size()) {
        return false;
    }
    command.seq = datagram[kOffsetSequence];
    command.macText = text.substr(0, space);
    command.ipText = text.substr(space + 1);
    return true;
}

}  // namespace qvlink::sim
