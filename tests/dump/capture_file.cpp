#include "dump/capture_file.h"

#include <fcntl.h>

#include <algorithm>
#include <stdexcept>

namespace qvlink::test {

namespace {

void put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value >> 16));
    put16(out, static_cast<std::uint16_t>(value));
}

std::uint16_t headerChecksum(const Bytes& header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < header.size(); i += 2) {
        sum += static_cast<std::uint32_t>((header[i] << 8) | header[i + 1]);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

Bytes ipv4Packet(const UdpEndpoints& endpoints, std::uint8_t protocol, const Bytes& body,
                 std::uint16_t id, std::uint16_t fragmentWord) {
    Bytes packet{0x45, 0x00};
    put16(packet, static_cast<std::uint16_t>(20 + body.size()));
    put16(packet, id);
    put16(packet, fragmentWord);
    packet.push_back(64);
    packet.push_back(protocol);
    put16(packet, 0);
    put32(packet, endpoints.sourceIp);
    put32(packet, endpoints.destinationIp);
    const std::uint16_t checksum = headerChecksum(packet);
    packet[10] = static_cast<std::uint8_t>(checksum >> 8);
    packet[11] = static_cast<std::uint8_t>(checksum);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

Bytes udpSegment(const UdpEndpoints& endpoints, const Bytes& payload, std::uint16_t udpLength) {
    Bytes segment;
    put16(segment, endpoints.sourcePort);
    put16(segment, endpoints.destinationPort);
    put16(segment, udpLength != 0 ? udpLength : static_cast<std::uint16_t>(8 + payload.size()));
    put16(segment, 0);  // no checksum, allowed for IPv4
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

Bytes linkFrame(int dlt, const Bytes& ipPacket) {
    Bytes frame;
    switch (dlt) {
        case DLT_EN10MB:
            frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
            put16(frame, 0x0800);
            break;
        case DLT_LINUX_SLL:
            frame = {0x00, 0x01, 0x00, 0x01, 0x00, 0x06, 0x02, 0, 0, 0, 0, 1, 0, 0};
            put16(frame, 0x0800);
            break;
        case DLT_LINUX_SLL2:
            put16(frame, 0x0800);
            frame.insert(frame.end(),
                         {0, 0, 0, 0, 0, 2, 0x00, 0x01, 0x01, 0x06, 0x02, 0, 0, 0, 0, 1, 0, 0});
            break;
        case DLT_NULL:
            frame = {2, 0, 0, 0};  // AF_INET in the little-endian writer's byte order
            break;
        case DLT_LOOP:
            frame = {0, 0, 0, 2};
            break;
        case DLT_RAW:
            break;
        default:
            throw std::invalid_argument("no frame layout for this link type");
    }
    frame.insert(frame.end(), ipPacket.begin(), ipPacket.end());
    return frame;
}

CaptureFile::CaptureFile(const std::string& path, int dlt, int snapLength)
    : m_dlt(dlt), m_snapLength(snapLength) {
    m_dead = pcap_open_dead(dlt, snapLength);
    m_dumper = m_dead != nullptr ? pcap_dump_open(m_dead, path.c_str()) : nullptr;
    if (m_dumper == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    // A program the test starts later must not hold a pipe open that the test closes.
    fcntl(fileno(pcap_dump_file(m_dumper)), F_SETFD, FD_CLOEXEC);
}

CaptureFile::~CaptureFile() {
    close();
}

void CaptureFile::addDatagram(const timeval& time, const Bytes& datagram,
                              const UdpEndpoints& endpoints) {
    addFrame(time, linkFrame(m_dlt, ipv4Packet(endpoints, 17, udpSegment(endpoints, datagram))));
}

void CaptureFile::addFrame(const timeval& time, const Bytes& frame, std::size_t originalLength) {
    pcap_pkthdr header{};
    header.ts = time;
    header.len = static_cast<bpf_u_int32>(originalLength != 0 ? originalLength : frame.size());
    header.caplen =
        static_cast<bpf_u_int32>(std::min(frame.size(), static_cast<std::size_t>(m_snapLength)));
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &header, frame.data());
}

void CaptureFile::flush() {
    pcap_dump_flush(m_dumper);
}

void CaptureFile::close() {
    if (m_dumper != nullptr) {
        pcap_dump_close(m_dumper);
        m_dumper = nullptr;
    }
    if (m_dead != nullptr) {
        pcap_close(m_dead);
        m_dead = nullptr;
    }
}

timeval later(const timeval& base, long ms) {
    timeval result = base;
    result.tv_sec += ms / 1000;
    result.tv_usec += (ms % 1000) * 1000;
    if (result.tv_usec >= 1000000) {
        result.tv_sec += 1;
        result.tv_usec -= 1000000;
    }
    return result;
}

}  // namespace qvlink::test
