#pragma once

// Reads back every record of a pcap file, for tests of what was written.

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvlink::test {

struct PcapRecord {
    std::int64_t epochMicros = 0;
    std::uint32_t wireLength = 0;
    std::vector<std::uint8_t> frame;  ///< the captured bytes
};

struct PcapContents {
    bool opened = false;
    std::string error;
    int linkType = -1;
    std::vector<PcapRecord> records;
};

inline PcapContents readPcap(const std::string& path) {
    PcapContents contents;
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.c_str(), error);
    if (file == nullptr) {
        contents.error = error;
        return contents;
    }
    contents.opened = true;
    contents.linkType = pcap_datalink(file);
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(file, &header, &bytes) == 1) {
        contents.records.push_back(
            {std::int64_t{header->ts.tv_sec} * 1'000'000 + header->ts.tv_usec, header->len,
             std::vector<std::uint8_t>(bytes, bytes + header->caplen)});
    }
    pcap_close(file);
    return contents;
}

/// UDP ports of a frame of Ethernet, IPv4 without options and UDP, in host byte order.
inline std::uint16_t udpSourcePort(const std::vector<std::uint8_t>& frame) {
    return static_cast<std::uint16_t>((frame.at(34) << 8) | frame.at(35));
}
inline std::uint16_t udpDestinationPort(const std::vector<std::uint8_t>& frame) {
    return static_cast<std::uint16_t>((frame.at(36) << 8) | frame.at(37));
}

}  // namespace qvlink::test
