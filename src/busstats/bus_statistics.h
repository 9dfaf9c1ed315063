#pragma once

// The bus accounting shared by the monitor and qvlink-dump: per device its traffic, rate and
// rhythm, and for the bus the datagrams by device type and class and the drops by reason.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "busstats/drop_reason.h"
#include "busstats/interval_tracker.h"
#include "busstats/rate_window.h"
#include "common/bus_types.h"
#include "state/device_registry.h"

namespace qvlink {

/// Datagrams dropped for one reason, and who sent the last of them.
struct DropTally {
    std::uint64_t count = 0;
    std::string lastSender;  ///< dotted decimal; empty while count is 0

    friend bool operator==(const DropTally&, const DropTally&) = default;
};

/// A device type code and a message class: the key of the bus's traffic mix.
struct TypeAndClass {
    std::uint8_t deviceType;
    std::uint8_t msgClass;

    friend auto operator<=>(const TypeAndClass&, const TypeAndClass&) = default;
};

/// One device as the statistics show it at a moment.
struct DeviceStatisticsView {
    TDevice device;  ///< the registry's entry: MAC, type, IP, total, missed, restarts
    std::uint64_t bytes = 0;
    double ratePerSecond = 0.0;  ///< over the last RateWindow::kSeconds seconds
    int gapsLearned = 0;         ///< up to IntervalTracker::kMemory
    double intervalMs = 0.0;     ///< learned normal gap; 0 before the first
    double spreadMs = 0.0;
    double silenceMs = 0.0;  ///< since its latest datagram
    bool late = false;
    std::optional<LocalDateTime> lastRestart;  ///< reception time of the latest restart
};

/// Counts what the reception does with every datagram. Devices are those of a registry that
/// the caller feeds first; times are milliseconds of a clock that never steps back (the
/// monitor's steady clock, a capture's timestamps), so tests drive it with a virtual one.
class BusStatistics {
public:
    /// `registry` must outlive the statistics and is read only.
    explicit BusStatistics(const DeviceRegistry& registry);

    /// Counts an accepted datagram of `size` bytes that the registry has just taken.
    void countAccepted(const TPacket& packet, std::size_t size, std::int64_t nowMs);
    /// Counts a dropped datagram from `senderIp`.
    void countDropped(DropReason reason, std::string_view senderIp);
    /// Replaces the tally of a reason that another part counts (the UDP endpoint discards
    /// datagrams before the reception sees them).
    void setDropTally(DropReason reason, DropTally tally);
    /// Datagrams the kernel dropped on the bus socket for want of buffer space.
    void setKernelDrops(std::uint64_t drops) { m_kernelDrops = drops; }

    std::uint64_t acceptedCount() const { return m_accepted; }
    /// Dropped datagrams over all reasons.
    std::uint64_t droppedCount() const;
    const DropTally& dropped(DropReason reason) const {
        return m_drops[static_cast<std::size_t>(reason)];
    }
    std::uint64_t kernelDrops() const { return m_kernelDrops; }
    const std::map<TypeAndClass, std::uint64_t>& byTypeAndClass() const { return m_mix; }

    int deviceCount() const { return m_registry.deviceCount(); }
    /// Device `number` (1-based, as in the registry) as of `nowMs`; false when out of range.
    bool viewDevice(int number, std::int64_t nowMs, DeviceStatisticsView& view) const;

    /// Numbers of the devices that have turned late since the last call; each silence is
    /// reported once.
    std::vector<int> takeNewlyLate(std::int64_t nowMs);

    /// Forgets every count, as at start-up (a replay that starts over with its registry).
    void clear();

private:
    struct DeviceTraffic {
        std::uint64_t bytes = 0;
        RateWindow recent;
        IntervalTracker interval;
        std::int64_t lastArrivalMs = 0;
        std::uint16_t restartsSeen = 0;
        std::optional<LocalDateTime> lastRestart;
        bool lateReported = false;
    };

    const DeviceRegistry& m_registry;
    std::vector<DeviceTraffic> m_devices;  // in registry order
    std::uint64_t m_accepted = 0;
    std::array<DropTally, kDropReasonCount> m_drops{};
    std::uint64_t m_kernelDrops = 0;
    std::map<TypeAndClass, std::uint64_t> m_mix;
};

}  // namespace qvlink
