#pragma once

// Finding the UDP payload inside a frame captured on an interface, for hearing the
// change-IP broadcast while a monitor holds the bus port.

#include <cstdint>
#include <span>

namespace qvlink::sim {

/// The UDP payload of an unfragmented IPv4 datagram in a captured frame of the given
/// link-layer type (Ethernet, Linux cooked v1/v2, BSD loopback, raw IP). False for any
/// other frame, or when the headers do not fit the captured bytes.
bool udpPayloadOfFrame(int linkType, std::span<const std::uint8_t> frame,
                       std::span<const std::uint8_t>& payload);

}  // namespace qvlink::sim
