#pragma once

// The bus published to a broker while it is captured. The capture hands each datagram over
// and goes on; a thread of the bridge's own feeds the mirror, batches the raw records and
// hands what the outbox holds to the link while the broker is there. Neither a slow broker nor
// one that is away ever holds the capture up: what cannot wait is counted as dropped.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_payloads.h"
#include "bridge/outbox.h"
#include "mqtt/mqtt_endpoint.h"

namespace qvlink {
class MqttLink;
}

namespace qvlink::bridge {

class BusMirror;

/// Topic leaves below the prefix.
inline constexpr const char* kStatusLeaf = "status";
inline constexpr const char* kDropsLeaf = "status/drops";
inline constexpr const char* kRawLeaf = "raw";

struct BridgeSettings {
    MqttEndpoint endpoint;
    std::int64_t tiIntervalUs = 1'000'000;  ///< see MirrorSettings
    bool raw = false;                       ///< publish every datagram on <prefix>/raw
    /// A live capture: the devices age with the wall clock while the bus is quiet. A capture
    /// file moves time with its own timestamps only.
    bool live = true;
    OutboxLimits limits;
    std::chrono::milliseconds rawBatchWindow{10};  ///< longest a raw record waits for others
    std::size_t backlogLimit = 262'144;            ///< datagrams waiting for the bridge's thread
};

/// What the bridge has done so far, for a summary or a metrics scrape.
struct BridgeCounters {
    std::uint64_t published = 0;  ///< messages handed to the link
    std::size_t queueDepth = 0;   ///< datagrams and publications waiting
    DropCounts drops;
};

class BusBridge {
public:
    /// Connects in the background; `report` hears of the link coming up and going down (on
    /// the link's thread). Throws TransportError when the link cannot be set up.
    BusBridge(BridgeSettings settings, std::function<void(const std::string&)> report);
    /// Ends without waiting for the broker; call finish() first to publish what is left.
    ~BusBridge();
    BusBridge(const BusBridge&) = delete;
    BusBridge& operator=(const BusBridge&) = delete;

    /// Hands over one whole datagram captured at `timeUs` (µs since 1970 UTC) from
    /// `senderIp`:`senderPort` (host order). Never waits for the broker.
    void offer(std::int64_t timeUs, std::uint32_t senderIp, std::uint16_t senderPort,
               const std::uint8_t* data, std::size_t size);

    /// Publishes everything still held, waiting up to `patience` for a broker that is away,
    /// then marks the bridge "offline" and leaves the broker. True when nothing was left
    /// undelivered.
    bool finish(std::chrono::milliseconds patience);

    BridgeCounters counters() const;

private:
    struct Captured {
        std::int64_t timeUs;
        std::uint32_t senderIp;
        std::uint16_t senderPort;
        std::uint32_t offset;  ///< of its bytes in the inbox's byte buffer
        std::uint32_t size;
    };
    struct Inbox {
        std::vector<Captured> datagrams;
        std::vector<std::uint8_t> bytes;
        std::uint64_t refused = 0;  ///< datagrams beyond the backlog limit
    };

    void run();
    void handle(Inbox& inbox);
    void addRaw(const Captured& datagram, const std::uint8_t* bytes);
    void flushRaw(bool now);
    void followConnection();
    void deliver();
    void publishCounters();
    /// At the end: true once all is delivered or the patience is spent.
    bool finished();
    /// Waits briefly until the link has sent what it holds.
    void awaitLink();
    std::string topic(const char* leaf) const;

    BridgeSettings m_settings;
    std::function<void(const std::string&)> m_report;
    Outbox m_outbox;
    std::unique_ptr<BusMirror> m_mirror;
    std::unique_ptr<MqttLink> m_link;
    std::atomic<std::uint64_t> m_connections{0};  ///< times the broker accepted the link
    std::uint64_t m_connectionsSeen = 0;

    std::vector<std::uint8_t> m_rawBatch;
    std::size_t m_rawRecords = 0;
    std::chrono::steady_clock::time_point m_rawBatchStart;
    std::uint64_t m_published = 0;

    mutable std::mutex m_mutex;  // guards the members below
    std::condition_variable m_wake;
    Inbox m_inbox;
    bool m_finishing = false;
    std::chrono::steady_clock::time_point m_patienceEnd;
    BridgeCounters m_counters;
    bool m_delivered = false;  ///< set by the thread when it ends: all was handed over

    std::thread m_thread;  // last: starts once everything above exists
};

}  // namespace qvlink::bridge
