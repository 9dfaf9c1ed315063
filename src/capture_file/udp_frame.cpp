#include "capture_file/udp_frame.h"

#include <algorithm>

#include "capture_file/frame_layout.h"

namespace qvlink {
namespace {

constexpr std::uint8_t kIpv4NoOptions = 0x45;
constexpr std::uint16_t kDontFragment = 0x4000;
constexpr std::uint8_t kTimeToLive = 64;
constexpr std::size_t kIpv4ChecksumOffset = 10;

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, static_cast<std::uint16_t>(value >> 16));
    put16(at + 2, static_cast<std::uint16_t>(value));
}

// Both MAC addresses stay zero: the socket does not report them.
void putEthernet(std::uint8_t* at) {
    put16(at + 12, kEtherTypeIpv4);
}

void putIpv4(std::uint8_t* at, const DatagramEndpoints& endpoints, std::size_t length) {
    at[0] = kIpv4NoOptions;
    put16(at + 2, static_cast<std::uint16_t>(kIpv4HeaderBytes + kUdpHeaderBytes + length));
    put16(at + 6, kDontFragment);
    at[8] = kTimeToLive;
    at[9] = kIpProtocolUdp;
    put32(at + 12, endpoints.sourceIp);
    put32(at + 16, endpoints.destinationIp);
    put16(at + kIpv4ChecksumOffset, internetChecksum({at, kIpv4HeaderBytes}));
}

void putUdp(std::uint8_t* at, const DatagramEndpoints& endpoints, std::size_t length) {
    put16(at, endpoints.sourcePort);
    put16(at + 2, endpoints.destinationPort);
    put16(at + 4, static_cast<std::uint16_t>(kUdpHeaderBytes + length));
}

}  // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t low = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        sum += (std::uint32_t{bytes[i]} << 8) | low;
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::size_t synthesizeUdpFrame(const DatagramEndpoints& endpoints,
                               std::span<const std::uint8_t> kept, std::size_t length,
                               std::vector<std::uint8_t>& frame) {
    length = std::min(std::max(length, kept.size()), kMaxUdpDatagramBytes);
    kept = kept.first(std::min(kept.size(), length));
    frame.assign(kUdpFrameHeaderBytes, 0);
    putEthernet(frame.data());
    putIpv4(frame.data() + kEthernetHeaderBytes, endpoints, length);
    putUdp(frame.data() + kEthernetHeaderBytes + kIpv4HeaderBytes, endpoints, length);
    frame.insert(frame.end(), kept.begin(), kept.end());
    return kUdpFrameHeaderBytes + length;
}

}  // namespace qvlink
