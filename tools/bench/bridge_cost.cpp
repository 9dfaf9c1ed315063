#include "bridge_cost.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <variant>

#include "common/bus_types.h"
#include "live_bridge.h"
#include "mqtt/mqtt_link.h"
#include "mqtt/raw_records.h"
#include "process_stats.h"
#include "sim_load.h"
#include "support/mosquitto_broker.h"

namespace qvlink::bench {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPrefix = "bench/bus";

/// User and system CPU seconds of a running process and of the children it runs now.
double treeCpuSeconds(pid_t pid) {
    double seconds = 0.0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (std::getline(stat, line)) {
        // Fields after the command name in parentheses; utime and stime are the 12th and 13th.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        for (int i = 1; i <= 13 && fields >> field; ++i) {
            if (i == 12) {
                utime = std::stoull(field);
            } else if (i == 13) {
                stime = std::stoull(field);
            }
        }
        seconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream children(task.path() / "children");
        for (pid_t child = 0; children >> child;) {
            seconds += treeCpuSeconds(child);
        }
    }
    return seconds;
}

/// Counts the raw records of <prefix>/raw and the gaps in each device's sequence numbers.
class RawCounter {
public:
    MqttLinkCallbacks callbacks() {
        MqttLinkCallbacks callbacks;
        callbacks.onMessage = [this](const MqttMessage& message) {
            std::lock_guard lock(m_mutex);
            readRawRecords(message.payload, [this](const RawRecord& record) { count(record); });
        };
        return callbacks;
    }
    std::uint64_t received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    std::uint64_t lost() {
        std::lock_guard lock(m_mutex);
        return m_lost;
    }

private:
    void count(const RawRecord& record) {
        ++m_received;
        const auto bytes = record.datagram;
        if (bytes.size() <= kOffsetSequence) {
            return;
        }
        const DeviceTypeInfo* type = findDeviceType(bytes[kOffsetDeviceType]);
        if (type == nullptr || !type->sequenced) {
            return;
        }
        const std::uint32_t device = (std::uint32_t{bytes[2]} << 24) |
                                     (std::uint32_t{bytes[3]} << 16) |
                                     (std::uint32_t{bytes[4]} << 8) | bytes[5];
        const std::uint8_t seq = bytes[kOffsetSequence];
        const auto [last, first] = m_lastSeq.try_emplace(device, seq);
        if (!first) {
            m_lost += static_cast<std::uint8_t>(seq - last->second - 1);
            last->second = seq;
        }
    }

    std::mutex m_mutex;
    std::map<std::uint32_t, std::uint8_t> m_lastSeq;
    std::uint64_t m_received = 0;
    std::uint64_t m_lost = 0;
};

}  // namespace

BridgeResult runBridgeLoad(const BridgeLoad& load) {
    const test::MosquittoBroker broker;
    RawCounter counter;
    std::unique_ptr<MqttLink> subscriber;
    if (load.raw) {
        MqttEndpoint endpoint;
        endpoint.url = std::get<MqttUrl>(parseMqttUrl(broker.url(kPrefix)));
        subscriber = std::make_unique<MqttLink>(endpoint, MqttLinkSettings{}, counter.callbacks());
        subscriber->subscribe(endpoint.url.topic("raw"), 0);
        subscriber->start();
    }
    LiveBridge bridge(load.dumpPath, broker.url(kPrefix), load.raw);
    const auto patience = std::chrono::steady_clock::now() + 10s;
    while (subscriber && !subscriber->connected() && std::chrono::steady_clock::now() < patience) {
        std::this_thread::sleep_for(10ms);
    }
    if (subscriber && !subscriber->connected()) {
        throw std::runtime_error("the bench's subscriber did not reach the broker");
    }

    const double dumpBefore = treeCpuSeconds(bridge.pid());
    const double brokerBefore = treeCpuSeconds(broker.pid());
    CpuSpan subscriberSpan;
    const auto start = std::chrono::steady_clock::now();
    BridgeResult result;
    result.sim =
        runSimLoad(SimLoad{load.simPath, bridge.busPort(), load.rate, load.seconds, load.devices});
    // The last batches are on their way: wait until the count stands still.
    for (std::uint64_t seen = ~0ULL; load.raw && seen != counter.received();) {
        seen = counter.received();
        std::this_thread::sleep_for(300ms);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    subscriberSpan.stop();
    result.dumpCoreShare = (treeCpuSeconds(bridge.pid()) - dumpBefore) / wall;
    result.brokerCoreShare = (treeCpuSeconds(broker.pid()) - brokerBefore) / wall;
    result.simCoreShare = result.sim.cpuSeconds / wall;
    result.subscriberCoreShare = subscriberSpan.coreShare();
    result.received = counter.received();
    result.lost = counter.lost();
    result.dumpSummary = bridge.stop();
    return result;
}

}  // namespace qvlink::bench
