#include "capture_file/pcap_writer.h"

#include <cstdio>
#include <utility>

#include "capture_file/write_error.h"

namespace qvlink {

namespace {

// Sizes of the classic pcap file header and of each record header.
constexpr std::uint64_t kFileHeaderBytes = 24;
constexpr std::uint64_t kRecordHeaderBytes = 16;

}  // namespace

PcapWriter::PcapWriter(pcap_t* source, std::string path, RotationLimits limits)
    : m_source(source), m_ring(std::move(path), limits) {
    open();
}

PcapWriter::PcapWriter(int linkType, int snapLength, std::string path, RotationLimits limits)
    : m_ownSource(pcap_open_dead(linkType, snapLength)),
      m_source(m_ownSource.get()),
      m_ring(std::move(path), limits) {
    if (m_source == nullptr) {
        throw WriteError("cannot write " + m_ring.path() + ": no pcap handle for link type " +
                         std::to_string(linkType));
    }
    open();
}

PcapWriter::~PcapWriter() {
    if (m_dumper != nullptr) {
        pcap_dump_close(m_dumper);
    }
}

void PcapWriter::open() {
    m_dumper = pcap_dump_open(m_source, m_ring.path().c_str());
    if (m_dumper == nullptr) {
        throw WriteError("cannot write " + m_ring.path() + ": " + pcap_geterr(m_source));
    }
    m_ring.accountHeader(kFileHeaderBytes);
}

void PcapWriter::fail() const {
    throwWriteError(m_ring.path());
}

void PcapWriter::write(const pcap_pkthdr& header, const std::uint8_t* frame) {
    const std::uint64_t bytes = kRecordHeaderBytes + header.caplen;
    if (m_ring.wouldOverflow(bytes)) {
        close();
        m_ring.shift();
        open();
    }
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &header, frame);
    if (std::ferror(pcap_dump_file(m_dumper)) != 0) {
        fail();
    }
    m_ring.accountRecord(bytes);
}

void PcapWriter::flush() {
    if (m_dumper != nullptr && pcap_dump_flush(m_dumper) != 0) {
        fail();
    }
}

void PcapWriter::close() {
    if (m_dumper == nullptr) {
        return;
    }
    pcap_dumper_t* dumper = std::exchange(m_dumper, nullptr);
    const bool failed = pcap_dump_flush(dumper) != 0 || std::ferror(pcap_dump_file(dumper)) != 0;
    pcap_dump_close(dumper);
    if (failed) {
        fail();
    }
}

}  // namespace qvlink
