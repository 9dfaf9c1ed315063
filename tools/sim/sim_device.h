#pragma once

// One simulated field device: identity, address, process, sequence numbering and counters.

#include <cstdint>
#include <string>

#include "common/bus_types.h"
#include "device_identity.h"
#include "signal_model.h"

namespace qvlink::sim {

/// Milliseconds since the simulation started (virtual in tests, monotonic when live).
using SimMillis = std::int64_t;

/// What a device has done, for the summary and for checking a monitor's counters.
struct DeviceStats {
    std::uint64_t sent = 0;       ///< datagrams that went out, malformed ones included
    std::uint64_t skipped = 0;    ///< sequence numbers deliberately left out
    std::uint64_t gaps = 0;       ///< runs of skipped numbers: what a monitor counts as missed
    std::uint32_t restarts = 0;   ///< times the numbering went back to 0
    std::uint64_t malformed = 0;  ///< datagrams a monitor must ignore
};

/// The rolling sequence number of a sequenced device.
class SequenceCounter {
public:
    /// The number for the next datagram. With `loss` above 0 some numbers are skipped, but
    /// never 255 or 0: a gap then never crosses the wrap, so a monitor sees every gap as one
    /// forward jump. A pending restart puts 0 on the datagram once the last number sent was
    /// 1 to 253 (where a monitor can tell a restart from a wrap or a gap), or at once when
    /// the restart was requested as immediate.
    std::uint8_t take(double loss, Random& random, DeviceStats& stats);

    void requestRestart(bool immediate);

private:
    std::uint8_t m_next = 0;
    std::uint8_t m_lastSent = 0;
    bool m_sentAny = false;
    bool m_restartPending = false;
    bool m_restartImmediate = false;
};

enum class DeviceState : std::uint8_t { Running, Silent, Reprogramming };

struct SimDevice {
    int number = 0;  ///< 1-based, as the log and the summary show it
    DeviceIdentity identity;
    const DeviceTypeInfo* info = nullptr;
    std::string macText;
    std::string ip;
    PointRange tsRange;  ///< bus-wide TS points (local signals for class-only types)
    PointRange tiRange;
    Random random;
    SignalModel signals;
    SequenceCounter sequence;
    DeviceStats stats;
    DeviceState state = DeviceState::Running;
    SimMillis quietUntil = 0;
    SimMillis nextCyclic = 0;
    SimMillis nextTime = 0;
    SimMillis nextRestart = 0;
    std::size_t loadChunk = 0;  ///< next cyclic report chunk in load mode

    /// "#3 FA:CE:10:5A:00:03 127.0.0.13", how the log names the device.
    std::string label() const;
};

}  // namespace qvlink::sim
