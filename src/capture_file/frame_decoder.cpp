#include "capture_file/frame_decoder.h"

#include <algorithm>

#include "capture_file/frame_layout.h"

namespace qvlink::capture {

namespace {

constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::uint16_t kEtherTypeVlanOld = 0x9100;
constexpr std::size_t kVlanTag = 4;
constexpr int kMaxVlanTags = 2;
constexpr std::size_t kSllHeader = 16;
constexpr std::size_t kSllProtocolOffset = 14;
constexpr std::size_t kSll2Header = 20;
constexpr std::size_t kLoopbackHeader = 4;
constexpr std::uint32_t kAfInet = 2;  // the same on every system that writes such captures

constexpr std::uint16_t kMoreFragments = 0x2000;
constexpr std::uint16_t kFragmentOffsetMask = 0x1FFF;

std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

struct LinkTypeName {
    LinkType type;
    const char* name;
};

constexpr std::array<LinkTypeName, 7> kLinkTypeNames{{
    {LinkType::Ethernet, "EN10MB"},
    {LinkType::LinuxSll, "LINUX_SLL"},
    {LinkType::LinuxSll2, "LINUX_SLL2"},
    {LinkType::Null, "NULL"},
    {LinkType::Loop, "LOOP"},
    {LinkType::Raw, "RAW"},
    {LinkType::RawIpv4, "IPV4"},
}};

}  // namespace

bool isSupportedLinkType(int dlt) {
    return std::any_of(kLinkTypeNames.begin(), kLinkTypeNames.end(),
                       [dlt](const LinkTypeName& n) { return static_cast<int>(n.type) == dlt; });
}

std::string supportedLinkTypeNames() {
    std::string names;
    for (const LinkTypeName& n : kLinkTypeNames) {
        if (!names.empty()) {
            names += ", ";
        }
        names += n.name;
    }
    return names;
}

FrameDecoder::FrameDecoder(LinkType linkType, std::uint16_t busPort)
    : m_linkType(linkType), m_busPort(busPort) {}

FrameDatagram FrameDecoder::decode(const std::uint8_t* frame, std::size_t size) {
    std::size_t offset = 0;
    if (!networkLayer(frame, size, offset)) {
        return {};
    }
    return ipv4(frame + offset, size - offset);
}

// Sets `offset` to the start of the IPv4 header; false for anything but IPv4.
bool FrameDecoder::networkLayer(const std::uint8_t* frame, std::size_t size,
                                std::size_t& offset) const {
    switch (m_linkType) {
        case LinkType::Ethernet: {
            if (size < kEthernetHeaderBytes) {
                return false;
            }
            std::size_t typeAt = 12;
            std::uint16_t etherType = be16(frame + typeAt);
            for (int tags = 0; tags < kMaxVlanTags &&
                               (etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ ||
                                etherType == kEtherTypeVlanOld);
                 ++tags) {
                typeAt += kVlanTag;
                if (size < typeAt + 2) {
                    return false;
                }
                etherType = be16(frame + typeAt);
            }
            offset = typeAt + 2;
            return etherType == kEtherTypeIpv4;
        }
        case LinkType::LinuxSll:
            offset = kSllHeader;
            return size >= kSllHeader && be16(frame + kSllProtocolOffset) == kEtherTypeIpv4;
        case LinkType::LinuxSll2:
            offset = kSll2Header;
            return size >= kSll2Header && be16(frame) == kEtherTypeIpv4;
        case LinkType::Null: {
            offset = kLoopbackHeader;
            if (size < kLoopbackHeader) {
                return false;
            }
            // Host byte order of the machine that wrote the capture, which may not be ours.
            const std::uint32_t family = be32(frame);
            return family == kAfInet || family == (kAfInet << 24);
        }
        case LinkType::Loop:
            offset = kLoopbackHeader;
            return size >= kLoopbackHeader && be32(frame) == kAfInet;
        case LinkType::Raw:
        case LinkType::RawIpv4:
            offset = 0;
            return size > 0 && (frame[0] >> 4) == 4;
    }
    return false;
}

FrameDatagram FrameDecoder::ipv4(const std::uint8_t* packet, std::size_t size) {
    FrameDatagram result;
    if (size < kIpv4HeaderBytes || (packet[0] >> 4) != 4 || packet[9] != kIpProtocolUdp) {
        return result;
    }
    const std::size_t headerLength = std::size_t{packet[0] & 0x0Fu} * 4;
    const std::size_t totalLength = be16(packet + 2);
    if (headerLength < kIpv4HeaderBytes || totalLength < headerLength || size < headerLength) {
        return result;
    }
    // Link layers pad short frames; the IP total length says where the packet ends.
    const std::size_t end = std::min(totalLength, size);
    const std::uint16_t fragmentWord = be16(packet + 6);
    const FragmentKey key{be32(packet + 12), be32(packet + 16), be16(packet + 4), true};
    result.sourceIp = key.source;

    if ((fragmentWord & kFragmentOffsetMask) != 0) {
        if (!isRememberedFragment(key)) {
            return result;
        }
        result.kind = FrameKind::Fragment;
        result.payload = packet + headerLength;
        result.capturedSize = end - std::min(end, headerLength);
        return result;
    }

    if (end < headerLength + kUdpHeaderBytes) {
        return result;
    }
    const std::uint8_t* udp = packet + headerLength;
    const std::size_t udpLength = be16(udp + 4);
    if ((be16(udp) != m_busPort && be16(udp + 2) != m_busPort) || udpLength < kUdpHeaderBytes) {
        return result;
    }
    if ((fragmentWord & kMoreFragments) != 0) {
        rememberFragmented(key);
    }
    result.sourcePort = be16(udp);
    result.payload = udp + kUdpHeaderBytes;
    result.datagramSize = udpLength - kUdpHeaderBytes;
    result.capturedSize = std::min(end - headerLength - kUdpHeaderBytes, result.datagramSize);
    result.kind =
        result.capturedSize < result.datagramSize ? FrameKind::Truncated : FrameKind::Datagram;
    return result;
}

void FrameDecoder::rememberFragmented(const FragmentKey& key) {
    m_fragments[m_nextFragmentSlot] = key;
    m_nextFragmentSlot = (m_nextFragmentSlot + 1) % kRememberedFragments;
}

bool FrameDecoder::isRememberedFragment(const FragmentKey& key) const {
    return std::any_of(m_fragments.begin(), m_fragments.end(), [&key](const FragmentKey& k) {
        return k.used && k.source == key.source && k.destination == key.destination &&
               k.id == key.id;
    });
}

}  // namespace qvlink::capture
