#pragma once

// The bus statistics of a capture: the monitor's own device registry and accounting fed with
// the capture's timestamps, so that a capture and a running monitor count alike.

#include <cstdint>
#include <string>

#include "busstats/bus_statistics.h"
#include "dump/datagram_record.h"
#include "state/device_registry.h"

namespace qvlink::dump {

class CaptureStatistics {
public:
    CaptureStatistics();
    CaptureStatistics(const CaptureStatistics&) = delete;
    CaptureStatistics& operator=(const CaptureStatistics&) = delete;

    /// Counts one datagram at the capture's time.
    void add(const DatagramRecord& record);

    const BusStatistics& statistics() const { return m_statistics; }
    /// The capture time of the latest datagram, in milliseconds since 1970.
    std::int64_t lastCaptureMs() const { return m_captureMs; }

    /// The table printed on exit, as of the last datagram: totals, one row per device in
    /// order of first appearance, the traffic by device type and class, and the datagrams
    /// not decoded by reason with the sender of the last one.
    std::string report(const FormatSettings& format) const;

private:
    LocalDateTime m_captureTime;
    std::int64_t m_captureMs = 0;
    DeviceRegistry m_registry;
    BusStatistics m_statistics;
};

}  // namespace qvlink::dump
