#pragma once

// The bus's health under a plot: per series, the silences, restarts and missed datagrams of
// the device that last sent its point, and for all of them the spans the monitor was off.

#include <cstdint>
#include <vector>

#include "history/history_reader.h"

namespace qvlink {

/// A device is silent after this long without a datagram.
inline constexpr std::int64_t kSilenceUs = 60LL * 1'000'000;

struct BandMark {
    std::int64_t timeUs = 0;
    int count = 0;  ///< missed datagrams; 0 for a restart

    friend bool operator==(const BandMark&, const BandMark&) = default;
};

struct DeviceHealth {
    std::vector<TimeSpan> silences;
    std::vector<BandMark> restarts;
    std::vector<BandMark> misses;
};

/// Reads one device's events in `span`: a silence runs from its last datagram (60 s before
/// the "silent" event) to its return, or to the end of the span when it has not returned.
DeviceHealth deviceHealth(const std::vector<StoredDeviceEvent>& events, const std::string& mac,
                          TimeSpan span);
/// The gaps between consecutive runs of the monitor, clipped to `span`.
std::vector<TimeSpan> monitorOffSpans(const std::vector<TimeSpan>& recordings, TimeSpan span);

}  // namespace qvlink
