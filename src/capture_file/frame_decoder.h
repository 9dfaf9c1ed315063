#pragma once

// Link layer, IPv4 and UDP decoding of captured frames down to the bus datagram they carry.
// Shared by the capture tool, the simulator and the monitor's replay.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qvlink::capture {

/// Link-layer header types of the captures the tool reads (libpcap DLT_ values).
enum class LinkType : int {
    Null = 0,        ///< BSD loopback: 4-byte address family in host byte order
    Ethernet = 1,    ///< Ethernet II, with up to two VLAN tags
    Raw = 12,        ///< bare IP packet (DLT_RAW on Linux)
    Loop = 108,      ///< OpenBSD loopback: 4-byte address family in network byte order
    LinuxSll = 113,  ///< Linux "any" device, version 1 header
    RawIpv4 = 228,   ///< bare IPv4 packet
    LinuxSll2 = 276  ///< Linux "any" device, version 2 header
};

/// Whether libpcap's link type value is one of the supported ones.
bool isSupportedLinkType(int dlt);
/// "EN10MB, LINUX_SLL, ..." for messages.
std::string supportedLinkTypeNames();

/// What a frame holds as far as the bus is concerned.
enum class FrameKind : std::uint8_t {
    NotBus,     ///< not an IPv4 UDP datagram on the bus port (or unreadable headers)
    Datagram,   ///< a whole bus datagram
    Truncated,  ///< a bus datagram of which the capture holds only the first bytes
    Fragment,   ///< a later IP fragment of a fragmented bus datagram
};

/// The bus datagram a frame carries. `payload` points into the frame.
struct FrameDatagram {
    FrameKind kind = FrameKind::NotBus;
    std::uint32_t sourceIp = 0;    ///< host byte order
    std::uint16_t sourcePort = 0;  ///< 0 for a later fragment, which has no UDP header
    const std::uint8_t* payload = nullptr;
    std::size_t capturedSize = 0;  ///< payload bytes present in the frame
    std::size_t datagramSize = 0;  ///< payload length the UDP header announces
};

/// Finds the bus datagram in captured frames. Keeps a short memory of fragmented bus
/// datagrams so that their later fragments (which carry no UDP header) can be told apart
/// from fragments of other traffic.
class FrameDecoder {
public:
    FrameDecoder(LinkType linkType, std::uint16_t busPort);

    /// Decodes one frame of `size` captured bytes; datagrams to or from the bus port count.
    FrameDatagram decode(const std::uint8_t* frame, std::size_t size);

private:
    struct FragmentKey {
        std::uint32_t source = 0;
        std::uint32_t destination = 0;
        std::uint16_t id = 0;
        bool used = false;
    };

    bool networkLayer(const std::uint8_t* frame, std::size_t size, std::size_t& offset) const;
    FrameDatagram ipv4(const std::uint8_t* packet, std::size_t size);
    void rememberFragmented(const FragmentKey& key);
    bool isRememberedFragment(const FragmentKey& key) const;

    static constexpr std::size_t kRememberedFragments = 64;

    LinkType m_linkType;
    std::uint16_t m_busPort;
    std::array<FragmentKey, kRememberedFragments> m_fragments{};
    std::size_t m_nextFragmentSlot = 0;
};

}  // namespace qvlink::capture
