#include "dump/dump_session.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <variant>

#include "capture_file/bus_capture.h"
#include "capture_file/write_error.h"
#include "common/clock.h"
#include "common/dotted_quad.h"
#include "dump/dump_error.h"
#include "dump/text_line.h"
#include "metrics/bus_metrics.h"
#include "metrics/metrics_server.h"
#include "net/transport_error.h"

namespace qvlink::dump {

namespace {

std::atomic<bool> g_stopRequested{false};
std::atomic<CaptureSource*> g_stopTarget{nullptr};

extern "C" void onStopSignal(int) {
    g_stopRequested.store(true);
    if (CaptureSource* source = g_stopTarget.load()) {
        source->stop();
    }
}

/// SIGINT and SIGTERM end the capture instead of the process while this lives. Installed
/// before the capture is opened, so that a stop during start-up, too, ends the run with its
/// files closed. Interrupted reads resume; the stop ends them through the capture.
class StopSignals {
public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_previousInt);
        sigaction(SIGTERM, &action, &m_previousTerm);
    }
    ~StopSignals() {
        sigaction(SIGINT, &m_previousInt, nullptr);
        sigaction(SIGTERM, &m_previousTerm, nullptr);
        g_stopTarget.store(nullptr);
        g_stopRequested.store(false);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// From now on a stop ends `source`; a stop that came earlier ends it at once.
    void attach(CaptureSource& source) {
        g_stopTarget.store(&source);
        if (g_stopRequested.load()) {
            source.stop();
        }
    }

private:
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};

/// The metrics endpoint the options ask for, announced on `err`; none without --metrics.
std::unique_ptr<MetricsServer> serveMetrics(const DumpOptions& options, const DumpSession& session,
                                            std::FILE* err) {
    if (!options.metrics) {
        return nullptr;
    }
    try {
        auto server = std::make_unique<MetricsServer>(*options.metrics,
                                                      [&session] { return session.metricsText(); });
        std::fprintf(err, "qvlink-dump: metrics at http://%s:%u/metrics\n",
                     dottedQuadText(options.metrics->address).c_str(),
                     static_cast<unsigned>(server->port()));
        std::fflush(err);
        return server;
    } catch (const MetricsServerError& error) {
        throw DumpError(ExitCode::Usage, error.what());
    }
}

/// The publisher's queue and drops, beside the bus counters.
std::vector<MetricFamily> publishingMetrics(const bridge::BridgeCounters& counters) {
    const auto one = [](std::string name, std::string help, MetricType type, double value) {
        return MetricFamily{std::move(name), std::move(help), type, {{{}, value}}};
    };
    MetricFamily dropped{"qvlink_mqtt_dropped_total",
                         "What the MQTT publisher dropped, by kind",
                         MetricType::Counter,
                         {{{{"kind", "event"}}, static_cast<double>(counters.drops.events)},
                          {{{"kind", "raw"}}, static_cast<double>(counters.drops.rawRecords)},
                          {{{"kind", "backlog"}}, static_cast<double>(counters.drops.backlog)}}};
    return {one("qvlink_mqtt_queue_depth", "Datagrams and publications waiting for the broker",
                MetricType::Gauge, static_cast<double>(counters.queueDepth)),
            one("qvlink_mqtt_published_total", "Messages handed to the broker link",
                MetricType::Counter, static_cast<double>(counters.published)),
            std::move(dropped)};
}

/// How long the end of a capture waits for a broker that is away.
constexpr std::chrono::seconds kBrokerPatience{10};

/// The broker the options name, or none. Throws DumpError on a bad broker option; the
/// warnings of the options go to `err`.
std::optional<MqttEndpoint> brokerOf(const DumpOptions& options, std::FILE* err) {
    if (options.mqtt.url.empty()) {
        return std::nullopt;
    }
    auto resolved = resolveMqttEndpoint(
        options.mqtt, [](const char* name) { return static_cast<const char*>(std::getenv(name)); });
    if (const std::string* problem = std::get_if<std::string>(&resolved)) {
        throw DumpError(ExitCode::Usage, *problem + " (see qvlink-dump --help)");
    }
    ResolvedMqttEndpoint& endpoint = std::get<ResolvedMqttEndpoint>(resolved);
    for (const std::string& warning : endpoint.warnings) {
        std::fprintf(err, "qvlink-dump: %s\n", warning.c_str());
    }
    return std::move(endpoint.endpoint);
}

/// The bridge to `broker`, if there is one; it reports the link's ups and downs to `err`.
/// Throws DumpError when the link cannot be set up.
std::unique_ptr<bridge::BusBridge> makeBridge(const std::optional<MqttEndpoint>& broker,
                                              const DumpOptions& options, bool live,
                                              std::FILE* err) {
    if (!broker) {
        return nullptr;
    }
    bridge::BridgeSettings settings;
    settings.endpoint = *broker;
    settings.tiIntervalUs = options.mqttTiIntervalUs;
    settings.raw = options.mqttRaw;
    settings.live = live;
    try {
        return std::make_unique<bridge::BusBridge>(
            std::move(settings), [err](const std::string& news) {
                std::fprintf(err, "qvlink-dump: %s\n", news.c_str());
                std::fflush(err);
            });
    } catch (const TransportError& error) {
        throw DumpError(ExitCode::Usage, error.what());
    }
}

}  // namespace

DumpSession::DumpSession(const DumpOptions& options, const CaptureSource& source, std::FILE* lines,
                         const FormatSettings& format, std::unique_ptr<bridge::BusBridge> bridge)
    : m_decoder(source.linkType(), options.port),
      m_builder(format),
      m_lines(options.quiet ? nullptr : lines),
      m_live(source.isLive()),
      m_bridge(std::move(bridge)) {
    if (!options.csvFile.empty()) {
        m_csv = std::make_unique<CsvWriter>(options.csvFile, options.rotation);
    }
    if (!options.pcapFile.empty()) {
        m_pcap = std::make_unique<PcapWriter>(source.handle(), options.pcapFile, options.rotation);
    }
    if (options.stats || options.metrics) {
        m_stats = std::make_unique<CaptureStatistics>();
    }
    if (m_bridge) {
        addMetricsSource(
            [bridge = m_bridge.get()] { return publishingMetrics(bridge->counters()); });
    }
}

void DumpSession::onFrame(const pcap_pkthdr& header, const std::uint8_t* frame) {
    const capture::FrameDatagram datagram = m_decoder.decode(frame, header.caplen);
    if (datagram.kind == capture::FrameKind::NotBus) {
        return;
    }
    if (m_bridge && datagram.kind == capture::FrameKind::Datagram) {
        m_bridge->offer(capture::captureMicros(header.ts), datagram.sourceIp, datagram.sourcePort,
                        datagram.payload, datagram.capturedSize);
    }
    if (m_pcap) {
        m_pcap->write(header, frame);
    }
    // Texts cost most of a datagram's handling; a quiet publishing run needs none.
    if (m_lines == nullptr && !m_csv && !m_stats) {
        flushLiveFiles();
        return;
    }
    m_builder.build(header.ts, datagram, m_record);
    if (m_lines != nullptr) {
        writeLine();
    }
    if (m_csv) {
        m_csv->write(m_record);
    }
    if (m_stats) {
        const std::lock_guard lock(m_statsMutex);
        m_stats->add(m_record);
    }
    flushLiveFiles();
}

// Someone watching a live bus, or reading the files of an unattended capture, should not
// wait for a buffer to fill.
void DumpSession::flushLiveFiles() {
    if (m_live) {
        if (m_csv) {
            m_csv->flush();
        }
        if (m_pcap) {
            m_pcap->flush();
        }
    }
}

std::string DumpSession::metricsText() const {
    std::vector<MetricFamily> families;
    if (m_stats) {
        const std::lock_guard lock(m_statsMutex);
        const std::int64_t nowMs = m_live ? systemEpochMicros() / 1000 : m_stats->lastCaptureMs();
        families = busMetricFamilies(m_stats->statistics(), nowMs);
    }
    for (const MetricsSource& source : m_metricsSources) {
        std::vector<MetricFamily> more = source();
        families.insert(families.end(), std::make_move_iterator(more.begin()),
                        std::make_move_iterator(more.end()));
    }
    return renderPrometheusText(families);
}

void DumpSession::writeLine() {
    m_line.clear();
    appendTextLine(m_record, m_line);
    if (std::fwrite(m_line.data(), 1, m_line.size(), m_lines) != m_line.size() ||
        (m_live && std::fflush(m_lines) != 0)) {
        throw DumpError(ExitCode::Write,
                        std::string("cannot write standard output: ") + std::strerror(errno));
    }
}

void DumpSession::finish() {
    if (m_csv) {
        m_csv->close();
    }
    if (m_pcap) {
        m_pcap->close();
    }
    if (m_lines != nullptr && std::fflush(m_lines) != 0) {
        throw DumpError(ExitCode::Write,
                        std::string("cannot write standard output: ") + std::strerror(errno));
    }
}

ExitCode DumpSession::finishPublishing(std::FILE* err) {
    if (!m_bridge) {
        return ExitCode::Ok;
    }
    const bool delivered = m_bridge->finish(kBrokerPatience);
    const bridge::BridgeCounters counters = m_bridge->counters();
    std::fprintf(err,
                 "qvlink-dump: %llu messages published; dropped: %llu events, %llu raw "
                 "datagrams, %llu datagrams the bridge could not keep up with\n",
                 static_cast<unsigned long long>(counters.published),
                 static_cast<unsigned long long>(counters.drops.events),
                 static_cast<unsigned long long>(counters.drops.rawRecords),
                 static_cast<unsigned long long>(counters.drops.backlog));
    if (!delivered) {
        std::fprintf(err, "qvlink-dump: the broker was not reached: %zu messages unpublished\n",
                     counters.queueDepth);
        return ExitCode::Publish;
    }
    return ExitCode::Ok;
}

ExitCode runDump(const DumpOptions& options, std::FILE* out, std::FILE* err) {
    const FormatSettings format = FormatSettings::fromSystemLocale();
    ExitCode code = ExitCode::Ok;
    try {
        const std::optional<MqttEndpoint> broker = brokerOf(options, err);
        std::optional<CaptureSource> source;  // outlives the signal handlers that stop it
        StopSignals signals;
        source.emplace(options.readFile.empty()
                           ? CaptureSource::openLive(capture::captureHelperPath(),
                                                     options.interface, options.port)
                           : CaptureSource::openFile(options.readFile));
        signals.attach(*source);
        if (!source->awaitStart()) {
            return ExitCode::Ok;  // stopped before the capture ran: nothing was written
        }
        DumpSession session(options, *source, out, format,
                            makeBridge(broker, options, source->isLive(), err));
        const std::unique_ptr<MetricsServer> metrics = serveMetrics(options, session, err);
        if (source->isLive()) {
            std::fprintf(err, "qvlink-dump: capturing on %s, udp port %u, link type %s\n",
                         options.interface.c_str(), static_cast<unsigned>(options.port),
                         pcap_datalink_val_to_name(pcap_datalink(source->handle())));
            std::fflush(err);
        }
        try {
            source->run([&session](const pcap_pkthdr& header, const std::uint8_t* frame) {
                session.onFrame(header, frame);
            });
        } catch (const DumpError& error) {
            std::fprintf(err, "qvlink-dump: %s\n", error.what());
            code = error.code();
        } catch (const WriteError& error) {
            std::fprintf(err, "qvlink-dump: %s\n", error.what());
            code = ExitCode::Write;
        }
        if (source->kernelDrops() > 0) {
            std::fprintf(err,
                         "qvlink-dump: the kernel dropped %llu captured frames: the capture "
                         "fell behind\n",
                         static_cast<unsigned long long>(source->kernelDrops()));
        }
        // What was captured up to a failure is still counted and written out.
        if (session.statistics() != nullptr) {
            std::fputs(session.statistics()->report(format).c_str(), err);
        }
        session.finish();
        const ExitCode published = session.finishPublishing(err);
        if (code == ExitCode::Ok) {
            code = published;
        }
    } catch (const DumpError& error) {
        std::fprintf(err, "qvlink-dump: %s\n", error.what());
        return error.code();
    } catch (const WriteError& error) {
        std::fprintf(err, "qvlink-dump: %s\n", error.what());
        return ExitCode::Write;
    }
    return code;
}

}  // namespace qvlink::dump
