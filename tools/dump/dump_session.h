#pragma once

// One capture run: every frame through the decoder to the line, CSV, pcap and statistics
// outputs.

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/bus_bridge.h"
#include "capture_file/frame_decoder.h"
#include "capture_file/pcap_writer.h"
#include "dump/capture_source.h"
#include "dump/capture_statistics.h"
#include "dump/csv_writer.h"
#include "dump/datagram_record.h"
#include "dump/dump_error.h"
#include "dump/dump_options.h"
#include "metrics/prometheus_text.h"

namespace qvlink::dump {

class DumpSession {
public:
    /// Opens the outputs the options ask for; datagram lines go to `lines` unless the
    /// options say quiet; whole datagrams also go to `bridge` if there is one. Throws
    /// DumpError when an output file cannot be created.
    DumpSession(const DumpOptions& options, const CaptureSource& source, std::FILE* lines,
                const FormatSettings& format, std::unique_ptr<bridge::BusBridge> bridge = {});

    /// Handles one captured frame; frames that carry no bus datagram are skipped. Throws
    /// DumpError when an output cannot be written.
    void onFrame(const pcap_pkthdr& header, const std::uint8_t* frame);
    /// Flushes and closes the output files; throws DumpError on a write failure.
    void finish();
    /// Publishes what the bridge still holds and tells `err` what it published and dropped.
    /// ExitCode::Publish when the broker did not take everything.
    ExitCode finishPublishing(std::FILE* err);

    /// Null unless the options ask for statistics or metrics.
    const CaptureStatistics* statistics() const { return m_stats.get(); }

    /// Further metric families (a publisher's queue depth and drops, ...) that every
    /// metricsText() appends; `source` runs on the metrics server's thread. Add before the
    /// server starts.
    using MetricsSource = std::function<std::vector<MetricFamily>()>;
    void addMetricsSource(MetricsSource source) { m_metricsSources.push_back(std::move(source)); }
    /// The bus counters in the Prometheus text format, as of now for a live capture and as
    /// of the last datagram for a file. Callable from any thread while frames are handled.
    std::string metricsText() const;

private:
    void writeLine();
    void flushLiveFiles();

    capture::FrameDecoder m_decoder;
    RecordBuilder m_builder;
    DatagramRecord m_record;
    std::string m_line;
    std::FILE* m_lines;
    bool m_live;
    std::unique_ptr<CsvWriter> m_csv;
    std::unique_ptr<PcapWriter> m_pcap;
    std::unique_ptr<CaptureStatistics> m_stats;
    /// Held by the capture thread while it counts a datagram and by the metrics server's
    /// thread while it reads the counts.
    mutable std::mutex m_statsMutex;
    std::vector<MetricsSource> m_metricsSources;
    std::unique_ptr<bridge::BusBridge> m_bridge;
};

/// Runs a whole capture as the command line asks: opens it, stops cleanly on SIGINT or
/// SIGTERM, prints statistics to `err` if asked and reports failures there. Returns the
/// exit status.
ExitCode runDump(const DumpOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qvlink::dump
