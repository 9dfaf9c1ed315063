#include "capture_file/capture_file_reader.h"

#include <cstdio>
#include <utility>

namespace qvlink::capture {

std::string unsupportedLinkTypeText(const std::string& source, int dlt) {
    const char* dltName = pcap_datalink_val_to_name(dlt);
    return source + ": unsupported link type " +
           (dltName != nullptr ? dltName : std::to_string(dlt)) +
           " (supported: " + supportedLinkTypeNames() + ")";
}

CaptureFileReader::CaptureFileReader(const std::string& path) : m_path(path) {
    char error[PCAP_ERRBUF_SIZE];
    m_handle = pcap_open_offline(path.c_str(), error);
    if (m_handle == nullptr) {
        throw CaptureFileError("cannot read capture file " + path + ": " + error);
    }
    // The frame decoder makes every check itself; a kernel-style filter would also miss
    // VLAN-tagged frames in files.
    const int dlt = pcap_datalink(m_handle);
    if (!isSupportedLinkType(dlt)) {
        pcap_close(m_handle);
        throw CaptureFileError(unsupportedLinkTypeText(path, dlt));
    }
    m_linkType = static_cast<LinkType>(dlt);
}

CaptureFileReader::CaptureFileReader(CaptureFileReader&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_path(std::move(other.m_path)),
      m_linkType(other.m_linkType),
      m_error(std::move(other.m_error)) {}

CaptureFileReader::~CaptureFileReader() {
    if (m_handle != nullptr) {
        pcap_close(m_handle);
    }
}

bool CaptureFileReader::next(const pcap_pkthdr*& header, const std::uint8_t*& frame) {
    pcap_pkthdr* nextHeader = nullptr;
    const u_char* nextFrame = nullptr;
    const int result = pcap_next_ex(m_handle, &nextHeader, &nextFrame);
    if (result == 1) {
        header = nextHeader;
        frame = nextFrame;
        return true;
    }
    if (result == PCAP_ERROR) {
        m_error = m_path + ": " + pcap_geterr(m_handle);
    }
    return false;
}

std::uint64_t CaptureFileReader::bytesRead() const {
    const long position = std::ftell(pcap_file(m_handle));
    return position > 0 ? static_cast<std::uint64_t>(position) : 0;
}

}  // namespace qvlink::capture
