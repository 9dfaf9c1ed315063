#pragma once

// Captured or synthesized frames written to pcap files, rotated as a FileRing.

#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture_file/file_ring.h"

namespace qvlink {

class PcapWriter {
public:
    /// Creates (or empties) the file with the link type and snapshot length of `source`.
    /// Throws WriteError when it cannot be created.
    PcapWriter(pcap_t* source, std::string path, RotationLimits limits);
    /// The same for frames of `linkType` (a DLT_ value) made up by the caller, at most
    /// `snapLength` bytes each.
    PcapWriter(int linkType, int snapLength, std::string path, RotationLimits limits);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    /// Writes one frame as it arrived, starting the next file of the ring when this one is
    /// full. Throws WriteError on a write failure.
    void write(const pcap_pkthdr& header, const std::uint8_t* frame);
    void flush();
    /// Flushes and closes; throws WriteError if the data could not be written.
    void close();

    /// The file being written (the newest of the ring).
    const std::string& path() const { return m_ring.path(); }

private:
    struct DeadSource {
        void operator()(pcap_t* source) const { pcap_close(source); }
    };

    void open();
    [[noreturn]] void fail() const;

    std::unique_ptr<pcap_t, DeadSource> m_ownSource;
    pcap_t* m_source;
    FileRing m_ring;
    pcap_dumper_t* m_dumper = nullptr;
};

}  // namespace qvlink
