#include "remote_latency.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/qt_dispatcher.h"
#include "common/dotted_quad.h"
#include "event_loop.h"
#include "load_traffic.h"
#include "mqtt/mqtt_link.h"
#include "refresh_ticks.h"
#include "remote/remote_bus_source.h"
#include "trace/trace_window.h"

namespace qvlink::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

/// The longest a bridge gathers records before it publishes them.
constexpr auto kBatchWindow = std::chrono::milliseconds(10);
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

/// The bridge's side: sends `traffic` in turn at `rate` a second for `seconds`, each datagram
/// stamped at its turn and gathered into one message per batch window. Returns how many it
/// published.
std::size_t publishPaced(MqttLink& link, const std::string& topic,
                         const std::vector<Datagram>& traffic, int rate, double seconds) {
    const auto start = SteadyClock::now();
    const auto end = start + std::chrono::duration_cast<SteadyClock::duration>(
                                 std::chrono::duration<double>(seconds));
    const auto interval = std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(1.0 / rate));
    std::vector<std::uint8_t> message;
    auto batchStart = start;
    std::size_t sent = 0;
    for (auto due = start; due < end; due += interval) {
        std::this_thread::sleep_until(due);
        const Datagram& datagram = traffic[sent % traffic.size()];
        const auto senderIp = parseDottedQuad(datagram.senderIp).value_or(0);
        if (message.empty()) {
            batchStart = SteadyClock::now();
        }
        appendRawRecord(message, {static_cast<std::uint64_t>(systemEpochMicros()), senderIp,
                                  kBusPort, datagram.bytes});
        ++sent;
        if (SteadyClock::now() - batchStart >= kBatchWindow) {
            link.publish(topic, message, 0, false);
            message.clear();
        }
    }
    if (!message.empty()) {
        link.publish(topic, message, 0, false);
    }
    return sent;
}

}  // namespace

RemoteLatency measureRemoteLatency(const std::string& brokerUrl, int rate, double seconds) {
    const MqttEndpoint endpoint = endpointOf(brokerUrl);
    const std::string topic = endpoint.url.topic("raw");
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
    bool linked = false;
    bool measuring = false;  // the warm-up's empty messages are not worth a word
    QtDispatcher dispatcher;
    RemoteBusSource source(
        endpoint, dispatcher,
        [&](const RawRecord& record) {
            main.receiveDatagram(record);
            const auto captureMicros = static_cast<std::int64_t>(record.captureMicros);
            latencies.push_back(static_cast<double>(systemEpochMicros() - captureMicros) / 1000.0);
        },
        [&](const std::string& text, bool needsAttention) {
            linked = linked || !needsAttention;
            if (measuring) {
                std::fprintf(stderr, "remote monitor: %s\n", text.c_str());
            }
        });
    source.start();

    std::atomic<bool> publisherUp = false;
    MqttLinkCallbacks callbacks;
    callbacks.onConnection = [&publisherUp](bool up, const std::string&) { publisherUp = up; };
    MqttLink publisher(endpoint, {}, std::move(callbacks));
    publisher.start();
    // Empty messages until the monitor hears one: then its subscription is in force.
    const bool hearing = runEventsUntil(
        [&] {
            publisher.publish(topic, std::string_view{}, 0, false);
            return linked && publisherUp && source.faultyMessages(RawMessageFault::Empty) > 0;
        },
        kConnectWaitMs);
    if (!hearing) {
        throw std::runtime_error("the remote monitor does not hear the broker at " + brokerUrl);
    }

    const std::vector<Datagram> traffic = simulatorLoadTraffic(kSimDevices, rate);
    measuring = true;
    RemoteLatency result;
    std::thread bridge(
        [&] { result.published = publishPaced(publisher, topic, traffic, rate, seconds); });
    runEventsFor(static_cast<int>(seconds * 1000.0));
    bridge.join();
    runEventsUntil([&] { return latencies.size() >= result.published; }, 1000);

    result.traced = latencies.size();
    result.medianMs = percentile(latencies, 0.5);
    result.p90Ms = percentile(latencies, 0.9);
    result.slowestMs = percentile(latencies, 1.0);
    return result;
}

}  // namespace qvlink::bench
