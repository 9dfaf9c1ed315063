#include "captured_frame.h"

#include <pcap/dlt.h>

#include <cstddef>

namespace qvlink::sim {
namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint8_t kIpProtocolUdp = 17;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::uint32_t kAddressFamilyInet = 2;

std::uint16_t be16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

/// Offset of the IPv4 header in the frame, or 0 with `ok` false.
std::size_t networkOffset(int linkType, std::span<const std::uint8_t> frame, bool& ok) {
    ok = false;
    switch (linkType) {
        case DLT_EN10MB: {
            if (frame.size() < 14) {
                return 0;
            }
            std::size_t at = 12;
            if (be16(frame, at) == kEtherTypeVlan && frame.size() >= 18) {
                at += 4;
            }
            ok = be16(frame, at) == kEtherTypeIpv4;
            return at + 2;
        }
        case DLT_LINUX_SLL:
            ok = frame.size() >= 16 && be16(frame, 14) == kEtherTypeIpv4;
            return 16;
        case DLT_LINUX_SLL2:
            ok = frame.size() >= 20 && be16(frame, 0) == kEtherTypeIpv4;
            return 20;
        case DLT_NULL:
        case DLT_LOOP: {
            if (frame.size() < 4) {
                return 0;
            }
            // The family is in the capturing host's byte order for DLT_NULL, big-endian for
            // DLT_LOOP; accept it either way round.
            const std::uint32_t big =
                static_cast<std::uint32_t>(be16(frame, 0)) << 16 | be16(frame, 2);
            const std::uint32_t little =
                (big >> 24) | ((big >> 8) & 0xFF00) | ((big << 8) & 0xFF0000) | (big << 24);
            ok = big == kAddressFamilyInet || little == kAddressFamilyInet;
            return 4;
        }
        case DLT_RAW:
            ok = true;
            return 0;
        default:
            return 0;
    }
}

}  // namespace

bool udpPayloadOfFrame(int linkType, std::span<const std::uint8_t> frame,
                       std::span<const std::uint8_t>& payload) {
    bool ok = false;
    const std::size_t ip = networkOffset(linkType, frame, ok);
    if (!ok || frame.size() < ip + 20) {
        return false;
    }
    const auto packet = frame.subspan(ip);
    const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    const std::size_t totalSize = be16(packet, 2);
    const bool fragment = (be16(packet, 6) & 0x3FFF) != 0;  // more-fragments flag or offset
    if ((packet[0] >> 4) != 4 || headerSize < 20 || packet[9] != kIpProtocolUdp || fragment ||
        totalSize > packet.size() || totalSize < headerSize + kUdpHeaderSize) {
        return false;
    }
    const auto udp = packet.subspan(headerSize, totalSize - headerSize);
    const std::size_t udpSize = be16(udp, 4);
    if (udpSize < kUdpHeaderSize || udpSize > udp.size()) {
        return false;
    }
    payload = udp.subspan(kUdpHeaderSize, udpSize - kUdpHeaderSize);
    return true;
}

}  // namespace qvlink::sim
