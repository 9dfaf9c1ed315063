#pragma once

// The JSON texts the bridge publishes: one function per topic kind, fed with the monitor's
// own records and texts, so a subscriber reads what the monitor's windows show.

#include <cstdint>
#include <optional>
#include <string>

#include "common/bus_types.h"
#include "common/rendering.h"
#include "state/device_events.h"
#include "state/device_registry.h"

namespace qvlink::bridge {

/// "2026-12-09T22:41:41.123Z": microseconds since 1970 as UTC with milliseconds.
std::string isoUtcText(std::int64_t timeUs);

/// A device as the device table holds it, received last at `lastUs`; `silent` once it has
/// been quiet for kSilenceSeconds.
std::string deviceJson(const TDevice& device, std::int64_t lastUs, bool silent);
/// A TS point entry received at `receivedUs`: state code and text, the flag bits.
std::string tsJson(const TTs& entry, std::int64_t receivedUs);
/// A TI point entry received at `receivedUs`: the number and the text the table shows.
std::string tiJson(const TTi& entry, std::int64_t receivedUs, const FormatSettings& format);
/// A device event: its kind as stored in files, the device and what the kind carries.
std::string eventJson(const DeviceEvent& event);

/// The counts of what the bridge could not deliver, since it started.
struct DropCounts {
    std::uint64_t events = 0;      ///< device events beyond the queue's bound
    std::uint64_t rawRecords = 0;  ///< datagrams of raw batches beyond the queue's bound
    std::uint64_t backlog = 0;     ///< datagrams the bridge could not take from the capture

    friend bool operator==(const DropCounts&, const DropCounts&) = default;
};
std::string dropsJson(const DropCounts& drops);

}  // namespace qvlink::bridge
