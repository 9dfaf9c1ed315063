#pragma once

// The bus frames of the capture written to pcap files, rotated like the CSV output.

#include <pcap/pcap.h>

#include <cstdint>
#include <string>

#include "dump/file_ring.h"

namespace qvlink::dump {

class PcapWriter {
public:
    /// Creates (or empties) the file with the link type and snapshot length of `source`.
    /// Throws DumpError when it cannot be created.
    PcapWriter(pcap_t* source, std::string path, RotationLimits limits);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    /// Writes one captured frame as it arrived, starting the next file of the ring when this
    /// one is full. Throws DumpError on a write failure.
    void write(const pcap_pkthdr& header, const std::uint8_t* frame);
    void flush();
    /// Flushes and closes; throws DumpError if the data could not be written.
    void close();

private:
    void open();
    [[noreturn]] void fail() const;

    pcap_t* m_source;
    FileRing m_ring;
    pcap_dumper_t* m_dumper = nullptr;
};

}  // namespace qvlink::dump
