#include "remote_latency.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "app/main_window.h"
#include "app/qt_dispatcher.h"
#include "event_loop.h"
#include "live_bridge.h"
#include "load_traffic.h"
#include "refresh_ticks.h"
#include "remote/remote_bus_source.h"
#include "sim_load.h"
#include "trace/trace_window.h"

namespace qvlink::bench {
namespace {

/// The longest a bridge gathers records before it publishes them.
constexpr int kBatchWindowMs = 10;
constexpr int kSimDevices = 29;
/// How long the broker links may take to come up.
constexpr int kConnectWaitMs = 5000;

MqttEndpoint endpointOf(const std::string& url) {
    auto parsed = parseMqttUrl(url);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        throw std::runtime_error(*error);
    }
    MqttEndpoint endpoint;
    endpoint.url = std::get<MqttUrl>(std::move(parsed));
    return endpoint;
}

/// Runs the event loop in small steps until `done()` or `milliseconds` have passed.
template <typename Predicate>
bool runEventsUntil(Predicate done, int milliseconds) {
    for (int waited = 0; !done() && waited < milliseconds; waited += 10) {
        runEventsFor(10);
    }
    return done();
}

}  // namespace

RemoteLatency measureRemoteLatency(const RemoteLoad& load) {
    const MqttEndpoint endpoint = endpointOf(load.brokerUrl);
    const FormatSettings format = FormatSettings::fromSystemLocale();
    Dialogs dialogs = Dialogs::modal();
    MonitorSettings settings;
    settings.remoteSource = endpoint.url.text();
    TFMain main(settings, systemLocalTime, format, dialogs);
    TFTrace trace([&main] { return main.arrivalTime(); }, format, dialogs);
    main.setTraceWindow(&trace);
    main.show();
    main.BOpenTraceClick();

    std::vector<double> latencies;
    bool measuring = false;  // the warm-up's notices are not worth a word
    QtDispatcher dispatcher;
    RemoteBusSource source(
        endpoint, dispatcher,
        [&](const RawRecord& record) {
            main.receiveDatagram(record);
            const auto captureMicros = static_cast<std::int64_t>(record.captureMicros);
            latencies.push_back(static_cast<double>(systemEpochMicros() - captureMicros) / 1000.0);
        },
        [&](const std::string& text, bool) {
            if (measuring) {
                std::fprintf(stderr, "remote monitor: %s\n", text.c_str());
            }
        });
    source.start();
    LiveBridge bridge(load.dumpPath, load.brokerUrl, true);

    // A device says hello until the monitor hears it: from then on the capture, the bridge's
    // link and the monitor's subscription are all in force.
    test::LoopbackUdpSocket hello;
    const std::vector<std::uint8_t> greeting = simulatorLoadTraffic(1, 1).front().bytes;
    const bool hearing = runEventsUntil(
        [&] {
            hello.sendTo(bridge.busPort(), greeting);
            return !latencies.empty();
        },
        kConnectWaitMs);
    if (!hearing) {
        throw std::runtime_error("the remote monitor does not hear the bridge through " +
                                 load.brokerUrl);
    }
    runEventsFor(2 * kBatchWindowMs);  // the last greetings
    latencies.clear();

    measuring = true;
    const SimSummary sim =
        runSimLoad(SimLoad{load.simPath, bridge.busPort(), load.rate, load.seconds, kSimDevices});
    runEventsUntil([&] { return latencies.size() >= sim.sent; }, 2000);

    RemoteLatency result;
    result.published = sim.sent;
    result.traced = latencies.size();
    result.medianMs = percentile(latencies, 0.5);
    result.p90Ms = percentile(latencies, 0.9);
    result.slowestMs = percentile(latencies, 1.0);
    result.bridgeSummary = bridge.stop();
    return result;
}

}  // namespace qvlink::bench
