#include "capture/pcap_stream.h"

#include <cstring>

namespace qvlink::capture {

namespace {

constexpr std::size_t kFileHeaderBytes = 24;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kMicrosecondMagic = 0xA1B2C3D4;
constexpr std::uint32_t kNanosecondMagic = 0xA1B23C4D;
/// libpcap's own ceiling for a record; a larger length means the stream is garbage.
constexpr std::uint32_t kMaxRecordBytes = 262144;

std::uint32_t hostOrder(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

bool PcapStream::feed(const std::uint8_t* data, std::size_t size, const FrameHandler& handler) {
    if (!m_error.empty()) {
        return false;
    }
    m_pending.insert(m_pending.end(), data, data + size);
    std::size_t offset = 0;
    for (;;) {
        const std::uint8_t* rest = m_pending.data() + offset;
        const std::size_t restSize = m_pending.size() - offset;
        const std::size_t used =
            m_hasHeader ? parseRecord(rest, restSize, handler) : parseHeader(rest, restSize);
        if (used == 0) {
            break;
        }
        offset += used;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(offset));
    return m_error.empty();
}

std::uint32_t PcapStream::field(const std::uint8_t* bytes) const {
    const std::uint32_t value = hostOrder(bytes);
    return m_swapped ? __builtin_bswap32(value) : value;
}

std::size_t PcapStream::parseHeader(const std::uint8_t* data, std::size_t size) {
    if (size < kFileHeaderBytes) {
        return 0;
    }
    const std::uint32_t magic = hostOrder(data);
    for (const std::uint32_t known : {kMicrosecondMagic, kNanosecondMagic}) {
        if (magic == known || magic == __builtin_bswap32(known)) {
            m_swapped = magic != known;
            m_nanoseconds = known == kNanosecondMagic;
            m_hasHeader = true;
        }
    }
    if (!m_hasHeader) {
        m_error = "not a pcap stream";
        return 0;
    }
    m_snapshotLength = field(data + 16);
    // The upper bits of the link type field carry flags (FCS length), not the type.
    m_linkType = static_cast<int>(field(data + 20) & 0x0FFFFFFF);
    return kFileHeaderBytes;
}

std::size_t PcapStream::parseRecord(const std::uint8_t* data, std::size_t size,
                                    const FrameHandler& handler) {
    if (size < kRecordHeaderBytes) {
        return 0;
    }
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(field(data));
    const std::uint32_t fraction = field(data + 4);
    header.ts.tv_usec = static_cast<suseconds_t>(m_nanoseconds ? fraction / 1000 : fraction);
    header.caplen = field(data + 8);
    header.len = field(data + 12);
    if (header.caplen > kMaxRecordBytes) {
        m_error = "a record of " + std::to_string(header.caplen) + " bytes, more than any capture";
        return 0;
    }
    if (size < kRecordHeaderBytes + header.caplen) {
        return 0;
    }
    handler(header, data + kRecordHeaderBytes);
    return kRecordHeaderBytes + header.caplen;
}

}  // namespace qvlink::capture
