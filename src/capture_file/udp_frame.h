#pragma once

// Ethernet II / IPv4 / UDP frames made up around datagrams received on a socket, so that a
// recording made without capture rights reads like a capture.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qvlink {

/// Addresses and ports of a received datagram, in host byte order.
struct DatagramEndpoints {
    std::uint32_t sourceIp = 0;
    std::uint16_t sourcePort = 0;
    std::uint32_t destinationIp = 0;
    std::uint16_t destinationPort = 0;
};

/// Ethernet, IPv4 (no options) and UDP headers before the datagram.
inline constexpr std::size_t kUdpFrameHeaderBytes = 14 + 20 + 8;
/// Longest datagram an IPv4 packet can announce.
inline constexpr std::size_t kMaxUdpDatagramBytes = 65535 - 20 - 8;

/// Replaces `frame` with the headers and the `kept` bytes of a datagram whose true length
/// is `length` (at least kept.size(); longer when the receiver kept only its start). The
/// headers announce the true length and carry a valid IPv4 checksum; the UDP checksum is
/// left out (zero), as IPv4 allows. Returns the frame's length on the wire, which exceeds
/// frame.size() by what was not kept.
std::size_t synthesizeUdpFrame(const DatagramEndpoints& endpoints,
                               std::span<const std::uint8_t> kept, std::size_t length,
                               std::vector<std::uint8_t>& frame);

/// The Internet checksum (RFC 1071) of `bytes`.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

}  // namespace qvlink
