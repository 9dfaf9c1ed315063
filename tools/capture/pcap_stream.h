#pragma once

// A classic pcap stream read as it arrives through a pipe: bytes in, frames out. The capture
// helper writes one; its readers cannot hand a pipe to libpcap without blocking.

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvlink::capture {

using FrameHandler = std::function<void(const pcap_pkthdr&, const std::uint8_t*)>;

class PcapStream {
public:
    /// Takes the next `size` bytes of the stream and hands every frame they complete to
    /// `handler`. False once the stream is unreadable (not pcap, a record larger than the
    /// stream allows); error() says why and later bytes are ignored.
    bool feed(const std::uint8_t* data, std::size_t size, const FrameHandler& handler);

    /// Whether the file header has arrived; the link type is known from then on.
    bool hasHeader() const { return m_hasHeader; }
    /// libpcap's DLT_ value of the frames.
    int linkType() const { return m_linkType; }
    std::uint32_t snapshotLength() const { return m_snapshotLength; }
    /// Bytes of an unfinished header or record: a stream that ends here was cut short.
    std::size_t pendingBytes() const { return m_pending.size(); }
    const std::string& error() const { return m_error; }

private:
    std::size_t parseHeader(const std::uint8_t* data, std::size_t size);
    std::size_t parseRecord(const std::uint8_t* data, std::size_t size,
                            const FrameHandler& handler);
    std::uint32_t field(const std::uint8_t* bytes) const;

    std::vector<std::uint8_t> m_pending;
    bool m_hasHeader = false;
    bool m_swapped = false;
    bool m_nanoseconds = false;
    int m_linkType = 0;
    std::uint32_t m_snapshotLength = 0;
    std::string m_error;
};

}  // namespace qvlink::capture
