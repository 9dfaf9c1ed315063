#pragma once

// A bus driven by a virtual clock: datagrams go through the reception's checks into a
// registry and the statistics at the times a test chooses.

#include <cstdint>
#include <string>
#include <vector>

#include "busstats/bus_statistics.h"
#include "protocol/packets.h"
#include "state/device_registry.h"

namespace qvlink::test {

class ScriptedBus {
public:
    ScriptedBus() : registry([this] { return localTimeAt(nowMs); }), statistics(registry) {}
    ScriptedBus(const ScriptedBus&) = delete;
    ScriptedBus& operator=(const ScriptedBus&) = delete;

    /// 12:00:00.000 plus `ms` on the day of the test.
    static LocalDateTime localTimeAt(std::int64_t ms) {
        return {2026,
                12,
                9,
                12 + static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000)};
    }

    void send(std::int64_t atMs, const std::vector<std::uint8_t>& bytes,
              const std::string& ip = "10.0.0.5") {
        nowMs = atMs;
        const DatagramVerdict verdict = classifyDatagram(bytes.data(), bytes.size());
        if (verdict != DatagramVerdict::Accepted ||
            !parsePacket(bytes.data(), bytes.size(), packet)) {
            statistics.countDropped(dropReasonOf(verdict).value_or(DropReason::UnknownType), ip);
            return;
        }
        registry.updateDevice(ip, packet);
        statistics.countAccepted(packet, bytes.size(), nowMs);
    }

    DeviceStatisticsView view(int number, std::int64_t atMs) const {
        DeviceStatisticsView result;
        statistics.viewDevice(number, atMs, result);
        return result;
    }

    std::int64_t nowMs = 0;
    DeviceRegistry registry;
    BusStatistics statistics;
    TPacket packet;
};

}  // namespace qvlink::test
