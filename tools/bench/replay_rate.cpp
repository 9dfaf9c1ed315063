#include "replay_rate.h"

#include <pcap/pcap.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/main_window.h"
#include "app/replay_session.h"
#include "capture_file/udp_frame.h"
#include "common/dotted_quad.h"
#include "load_traffic.h"
#include "process_stats.h"
#include "trace/trace_window.h"

namespace qvlink::bench {
namespace {

constexpr int kSimDevices = 29;
constexpr std::int64_t kCaptureStartUs = 1'718'454'600'000'000;
constexpr std::int64_t kSpacingUs = 1'000;

void writeCapture(const std::string& path, long datagrams) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        pcap_close(dead);
        throw std::runtime_error("cannot write " + path);
    }
    const std::vector<Datagram> traffic =
        simulatorLoadTraffic(kSimDevices, static_cast<int>(datagrams));
    std::int64_t timeUs = kCaptureStartUs;
    std::vector<std::uint8_t> frame;
    for (const Datagram& datagram : traffic) {
        const DatagramEndpoints endpoints{parseDottedQuad(datagram.senderIp).value_or(0), kBusPort,
                                          0xFFFFFFFF, kBusPort};
        synthesizeUdpFrame(endpoints, datagram.bytes, datagram.bytes.size(), frame);
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(timeUs / 1'000'000);
        header.ts.tv_usec = static_cast<suseconds_t>(timeUs % 1'000'000);
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
        timeUs += kSpacingUs;
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

/// Times the work between its construction and stop() on the calling thread.
class Stopwatch {
public:
    Stopwatch() : m_wallNs(monotonicNs()), m_cpuNs(threadCpuNs()) {}
    Span stop() const {
        return {static_cast<double>(monotonicNs() - m_wallNs) * 1e-9,
                static_cast<double>(threadCpuNs() - m_cpuNs) * 1e-9};
    }

private:
    std::int64_t m_wallNs;
    std::int64_t m_cpuNs;
};

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

Span timeDump(const std::string& dumpPath, const std::string& capture) {
    const double cpuBefore = childrenCpuSeconds();
    const std::int64_t start = monotonicNs();
    const int status =
        std::system(("LC_ALL=C TZ=UTC " + dumpPath + " -r " + capture + " > /dev/null").c_str());
    return {status == 0 ? static_cast<double>(monotonicNs() - start) * 1e-9 : -1.0,
            childrenCpuSeconds() - cpuBefore};
}

/// The windows as the monitor builds them for --replay, the trace open and tracing.
void timeReplay(const std::string& capture, ReplayRates& rates) {
    const Stopwatch loading;
    ReplaySource source({capture});
    rates.load = loading.stop();
    const FormatSettings format{",", ":"};
    MonitorSettings settings;
    settings.replayOf = source.name;
    TFMain main(settings, source.clock.localClock(), format, Dialogs::modal(),
                source.clock.elapsedClock(), source.clock.epochClock());
    TFTrace trace(source.clock.localClock(), format, Dialogs::modal());
    main.setTraceWindow(&trace);
    main.show();
    trace.show();
    ReplaySession session(source, main);
    ReplayPlayer& player = session.player();
    player.setSpeed(ReplayEngine::kAsFastAsPossible);

    const Stopwatch replaying;
    player.play();
    while (!player.engine().atEnd()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    rates.replay = replaying.stop();

    const Stopwatch seeking;
    player.seek(player.engine().endMicros() - 1'000'000);
    rates.seek = seeking.stop();
}

}  // namespace

ReplayRates measureReplay(const std::string& dumpPath, const std::string& folder, long datagrams) {
    const std::string capture = folder + "/replay-bench.pcap";
    writeCapture(capture, datagrams);
    ReplayRates rates;
    rates.datagrams = datagrams;
    rates.fileMiB = static_cast<double>(std::filesystem::file_size(capture)) / (1024.0 * 1024.0);
    rates.dump = timeDump(dumpPath, capture);
    timeReplay(capture, rates);
    std::filesystem::remove(capture);
    return rates;
}

}  // namespace qvlink::bench
