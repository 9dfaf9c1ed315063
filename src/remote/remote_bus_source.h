#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "mqtt/mqtt_endpoint.h"
#include "mqtt/raw_records.h"
#include "net/dispatcher.h"

namespace qvlink {

class MqttLink;

/// The datagrams of a bus far away, read from the raw topic of the broker its bridge
/// publishes to. The link's thread only queues what arrives (up to a bound) and wakes the
/// dispatcher's thread, which reads the records and hands each datagram on there, in order,
/// with the time the bridge captured it.
class RemoteBusSource {
public:
    /// Handed each record: the datagram, its sender, and the time the bridge captured it,
    /// held within the signed 64-bit range of microseconds since 1970 UTC.
    using Receive = std::function<void(const RawRecord& record)>;
    /// The monitor's own messages for the event log: the link going down and up, the first
    /// faulty message of each kind, the first overflow of the queue.
    using Notice = std::function<void(const std::string& text, bool needsAttention)>;

    /// What waits for the dispatcher's thread at most; beyond it messages are dropped and
    /// counted (about half a second of a busy bus).
    static constexpr std::size_t kMaxQueuedBytes = 16 * 1024 * 1024;

    /// Prepares the link (throws TransportError as MqttLink does); nothing arrives before
    /// start(). Called on the dispatcher's thread.
    RemoteBusSource(const MqttEndpoint& endpoint, Dispatcher& dispatcher, Receive receive,
                    Notice notice, std::size_t maxQueuedBytes = kMaxQueuedBytes);
    /// Ends the link and the hand-over: nothing is delivered once it has returned.
    ~RemoteBusSource();
    RemoteBusSource(const RemoteBusSource&) = delete;
    RemoteBusSource& operator=(const RemoteBusSource&) = delete;

    /// Subscribes to `<prefix>/raw` and connects.
    void start();

    /// Messages that stopped at `fault` so far (their records before it were delivered).
    std::uint64_t faultyMessages(RawMessageFault fault) const;
    /// Messages dropped because the queue was full.
    std::uint64_t droppedMessages() const;

    struct Queue;  // shared by both threads

private:
    void drain();
    void handleMessage(std::span<const std::uint8_t> message);

    std::string m_rawTopic;
    Receive m_receive;
    Notice m_notice;
    std::shared_ptr<Queue> m_queue;
    std::unique_ptr<ReadableWatch> m_watch;
    std::unique_ptr<MqttLink> m_link;  // last: its thread ends before the rest goes
    std::array<std::uint64_t, kRawMessageFaultCount> m_faults{};
    bool m_overflowReported = false;
};

}  // namespace qvlink
