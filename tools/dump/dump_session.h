#pragma once

// One capture run: every frame through the decoder to the line, CSV, pcap and statistics
// outputs.

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "capture_file/frame_decoder.h"
#include "capture_file/pcap_writer.h"
#include "dump/capture_source.h"
#include "dump/capture_statistics.h"
#include "dump/csv_writer.h"
#include "dump/datagram_record.h"
#include "dump/dump_error.h"
#include "dump/dump_options.h"

namespace qvlink::dump {

class DumpSession {
public:
    /// Opens the outputs the options ask for; datagram lines go to `lines` unless the
    /// options say quiet. Throws DumpError when an output file cannot be created.
    DumpSession(const DumpOptions& options, const CaptureSource& source, std::FILE* lines,
                const FormatSettings& format);

    /// Handles one captured frame; frames that carry no bus datagram are skipped. Throws
    /// DumpError when an output cannot be written.
    void onFrame(const pcap_pkthdr& header, const std::uint8_t* frame);
    /// Flushes and closes the output files; throws DumpError on a write failure.
    void finish();

    /// Null unless the options ask for statistics.
    const CaptureStatistics* statistics() const { return m_stats.get(); }

private:
    void writeLine();

    capture::FrameDecoder m_decoder;
    RecordBuilder m_builder;
    DatagramRecord m_record;
    std::string m_line;
    std::FILE* m_lines;
    bool m_live;
    std::unique_ptr<CsvWriter> m_csv;
    std::unique_ptr<PcapWriter> m_pcap;
    std::unique_ptr<CaptureStatistics> m_stats;
};

/// Runs a whole capture as the command line asks: opens it, stops cleanly on SIGINT or
/// SIGTERM, prints statistics to `err` if asked and reports failures there. Returns the
/// exit status.
ExitCode runDump(const DumpOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qvlink::dump
