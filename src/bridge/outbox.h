#pragma once

// What waits to be handed to the broker link, bounded whatever the broker does: a retained
// value replaces the one still waiting for its topic; events and raw batches queue in order
// up to a limit, and what comes beyond it is counted as dropped. Every retained value is
// remembered, so the whole state can be queued again when the link returns.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

#include "bridge/bridge_payloads.h"

namespace qvlink::bridge {

struct Publication {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = false;
    std::size_t records = 0;  ///< datagrams of a raw batch
};

struct OutboxLimits {
    std::size_t events = 10'000;        ///< device events waiting
    std::size_t rawBytes = 16'000'000;  ///< bytes of raw batches waiting
};

class Outbox {
public:
    explicit Outbox(OutboxLimits limits = {});

    /// The latest value of a retained topic (QoS 0: what a lost connection loses is sent again
    /// with the whole state when the link returns).
    void putRetained(const std::string& topic, std::string payload);
    /// A device event (QoS 1, not retained); beyond the limit it is counted as dropped.
    void putEvent(const std::string& topic, std::string payload);
    /// A batch of `records` raw datagrams (QoS 0); beyond the limit they count as dropped.
    void putRaw(const std::string& topic, std::string batch, std::size_t records);
    /// Queues every retained value put so far again, for a broker that has lost them.
    void requeueRetained();
    /// Counts what the link refused after it was taken: retained values come again with the
    /// next connection, events and raw datagrams are lost.
    void countRefused(const Publication& publication);
    /// Counts datagrams lost before they reached the outbox.
    void countBacklogDrops(std::uint64_t datagrams) { m_drops.backlog += datagrams; }

    /// The next publication, taking the three kinds in turn so none starves the others.
    std::optional<Publication> take();
    /// Publications waiting.
    std::size_t depth() const { return m_retainedOrder.size() + m_events.size() + m_raw.size(); }
    const DropCounts& drops() const { return m_drops; }

private:
    std::optional<Publication> takeRetained();
    std::optional<Publication> takeEvent();
    std::optional<Publication> takeRaw();

    OutboxLimits m_limits;
    std::map<std::string, std::string> m_latestRetained;  ///< everything ever put, latest
    std::unordered_map<std::string, std::string> m_waitingRetained;
    std::deque<std::string> m_retainedOrder;  ///< topics of m_waitingRetained, oldest first
    std::deque<Publication> m_events;
    std::deque<Publication> m_raw;
    std::size_t m_rawBytes = 0;
    unsigned m_turn = 0;
    DropCounts m_drops;
};

}  // namespace qvlink::bridge
