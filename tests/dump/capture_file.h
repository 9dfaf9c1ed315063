#pragma once

// Writes pcap files of bus traffic for the capture tool's tests: IPv4 UDP frames under any
// of the link types the tool reads, IP fragments and unrelated traffic.

#include <pcap/pcap.h>
#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvlink::test {

using Bytes = std::vector<std::uint8_t>;

/// 10.0.0.5 as a host-order address.
constexpr std::uint32_t ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) | d;
}

struct UdpEndpoints {
    std::uint32_t sourceIp = ipv4(10, 0, 0, 5);
    std::uint32_t destinationIp = ipv4(255, 255, 255, 255);
    std::uint16_t sourcePort = 973;
    std::uint16_t destinationPort = 973;
};

/// An IPv4 packet. `fragmentWord` is the flags/offset field; `ipTotalLength` 0 means the
/// length of the packet built.
Bytes ipv4Packet(const UdpEndpoints& endpoints, std::uint8_t protocol, const Bytes& body,
                 std::uint16_t id = 1, std::uint16_t fragmentWord = 0);
/// UDP header plus payload; `udpLength` 0 means the real length.
Bytes udpSegment(const UdpEndpoints& endpoints, const Bytes& payload, std::uint16_t udpLength = 0);
/// The link-layer header of `dlt` put before an IPv4 packet.
Bytes linkFrame(int dlt, const Bytes& ipPacket);

/// A pcap file under construction (pcap_open_dead + pcap_dump_open).
class CaptureFile {
public:
    CaptureFile(const std::string& path, int dlt, int snapLength = 65535);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    /// One bus datagram in a whole frame.
    void addDatagram(const timeval& time, const Bytes& datagram,
                     const UdpEndpoints& endpoints = {});
    /// A frame as given; `originalLength` 0 means its size.
    void addFrame(const timeval& time, const Bytes& frame, std::size_t originalLength = 0);
    /// Writes out what was added, for a reader at the other end of a pipe.
    void flush();
    void close();
    int dlt() const { return m_dlt; }

private:
    int m_dlt;
    int m_snapLength;
    pcap_t* m_dead = nullptr;
    pcap_dumper_t* m_dumper = nullptr;
};

/// `base` plus `ms` milliseconds.
timeval later(const timeval& base, long ms);

}  // namespace qvlink::test
