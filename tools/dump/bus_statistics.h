#pragma once

// Per-device statistics of a capture, kept by the monitor's own device registry so that
// missed datagrams and restarts are counted exactly as the monitor counts them.

#include <array>
#include <cstdint>
#include <string>

#include "dump/datagram_record.h"
#include "state/device_registry.h"

namespace qvlink::dump {

class BusStatistics {
public:
    BusStatistics();
    BusStatistics(const BusStatistics&) = delete;
    BusStatistics& operator=(const BusStatistics&) = delete;

    /// Counts one datagram; an accepted one updates its device at the capture's time.
    void add(const DatagramRecord& record);

    const DeviceRegistry& registry() const { return m_registry; }
    std::uint64_t count(DumpStatus status) const {
        return m_byStatus[static_cast<std::size_t>(status)];
    }

    /// The table printed on exit: totals, one row per device in order of first appearance,
    /// and the datagrams not decoded by reason.
    std::string report(const FormatSettings& format) const;

private:
    LocalDateTime m_captureTime;
    DeviceRegistry m_registry;
    std::array<std::uint64_t, kDumpStatusCount> m_byStatus{};
};

}  // namespace qvlink::dump
