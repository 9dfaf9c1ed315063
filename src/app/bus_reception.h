#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "app/history_feed.h"
#include "busstats/bus_statistics.h"
#include "busstats/elapsed_clock.h"
#include "common/bus_types.h"
#include "protocol/packets.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink {

/// The reception pipeline below the window: checks one datagram, decodes it, registers its
/// sender, counts it, offers it to the trace and stores its items. Dropped datagrams are
/// counted by reason and leave no other trace.
class BusReception {
public:
    /// Called for every accepted datagram after the registry was updated, before the items
    /// are stored.
    using TraceHook = std::function<void(const std::string& ipAddr, const TPacket& packet)>;

    /// `statistics` counts over `registry`; `elapsed` times each datagram's arrival.
    BusReception(DeviceRegistry& registry, TeleparamTables& tables, BusStatistics& statistics,
                 ElapsedClock elapsed);

    void setTraceHook(TraceHook hook) { m_traceHook = std::move(hook); }
    /// From now on hands TS changes, TI values and device events to `recorder`, which must
    /// outlive this pipeline. Once per pipeline.
    void recordHistory(HistoryRecorder& recorder, EpochClock clock = systemEpochMicros);
    /// See HistoryFeed::setMuted; nothing without history.
    void setHistoryMuted(bool muted);

    /// Processes one received datagram from `senderIp`; returns why it was dropped, or
    /// Accepted.
    DatagramVerdict receive(const std::uint8_t* data, std::size_t size,
                            const std::string& senderIp);
    /// Processes a datagram that did not come through the bus endpoint (a capture, a bus far
    /// away): `kept` of its `length` bytes. What the endpoint discards on the bus, an empty
    /// datagram or one longer than the bus allows, is counted as it counts it there.
    void receiveCaptured(std::span<const std::uint8_t> kept, std::size_t length,
                         const std::string& senderIp);

private:
    DeviceRegistry& m_registry;
    TeleparamTables& m_tables;
    BusStatistics& m_statistics;
    ElapsedClock m_elapsed;
    TraceHook m_traceHook;
    TPacket m_packet;  // reused so the dump and MAC strings keep their capacity
    std::unique_ptr<HistoryFeed> m_historyFeed;
};

}  // namespace qvlink
