#pragma once

// One pcap or pcapng file read frame by frame through libpcap's offline reader.

#include <pcap/pcap.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "capture_file/frame_decoder.h"

namespace qvlink::capture {

/// A capture file that cannot be opened or read; the text names the file and the cause.
class CaptureFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// "<source>: unsupported link type IEEE802_11 (supported: ...)".
std::string unsupportedLinkTypeText(const std::string& source, int dlt);

class CaptureFileReader {
public:
    /// Opens `path`. Throws CaptureFileError when it is no capture libpcap reads or its link
    /// type is not one the frame decoder knows.
    explicit CaptureFileReader(const std::string& path);
    CaptureFileReader(CaptureFileReader&& other) noexcept;
    CaptureFileReader& operator=(CaptureFileReader&&) = delete;
    CaptureFileReader(const CaptureFileReader&) = delete;
    ~CaptureFileReader();

    /// The next frame: true with `header` and `frame` valid until the next call; false at the
    /// end of the file or on a read failure (a record cut short), which error() then names.
    bool next(const pcap_pkthdr*& header, const std::uint8_t*& frame);
    /// Why the last next() failed; empty after a clean end.
    const std::string& error() const { return m_error; }
    /// Bytes of the file read so far.
    std::uint64_t bytesRead() const;

    /// Describes the frames (link type, snapshot length), e.g. to a pcap writer.
    pcap_t* handle() const { return m_handle; }
    LinkType linkType() const { return m_linkType; }
    const std::string& path() const { return m_path; }

private:
    pcap_t* m_handle = nullptr;
    std::string m_path;
    LinkType m_linkType = LinkType::Ethernet;
    std::string m_error;
};

}  // namespace qvlink::capture
