#pragma once

// Whether a command sent to a device took effect, judged from what the bus shows afterwards:
// a device told to change its address must be heard from the new one; a device sent into
// firmware-update mode restarts its numbering or falls silent. Each outcome is one Russian
// sentence for the event log.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "busstats/elapsed_clock.h"
#include "common/rendering.h"
#include "state/device_registry.h"

namespace qvlink {

/// Seconds the effect of a command is waited for.
inline constexpr int kCommandWatchSeconds = 30;
/// Seconds without a datagram after which a device sent into firmware-update mode counts as
/// silent when its watch ends.
inline constexpr std::uint32_t kFirmwareQuietSeconds = 5;

/// Watches devices after commands, on the thread that handles the datagrams. Events of the
/// registry settle a watch at once; tick(), called by the once-a-second refresh after the
/// ages have been raised, ends the watches whose time is up. A new command to a device
/// replaces the watch of its previous one.
class CommandWatch {
public:
    using Report = std::function<void(const std::string& text)>;

    /// Subscribes to the registry's events: must outlive every datagram the registry takes.
    CommandWatch(DeviceRegistry& registry, ElapsedClock elapsed, FormatSettings format,
                 Report report);
    CommandWatch(const CommandWatch&) = delete;
    CommandWatch& operator=(const CommandWatch&) = delete;

    /// The change-IP command for `mac` to `ip` has just been sent.
    void expectAddress(const std::string& mac, const std::string& ip);
    /// The device `mac` has just accepted the firmware-update request.
    void expectFirmwareRestart(const std::string& mac);
    /// Reports the watches that have waited kCommandWatchSeconds.
    void tick();

    int pendingCount() const { return static_cast<int>(m_watches.size()); }

private:
    enum class Expectation { Address, FirmwareRestart };
    struct Watch {
        Expectation expectation = Expectation::Address;
        std::string mac;
        std::string ip;  ///< Address only: the address the device was told to take
        std::int64_t startMs = 0;
    };

    void begin(Watch watch);
    void onEvent(const DeviceEvent& event);
    /// Whether `event` shows the effect `watch` waits for.
    static bool settles(const Watch& watch, const DeviceEvent& event);
    std::string successText(const Watch& watch, std::int64_t nowMs) const;
    std::string timeoutText(const Watch& watch) const;

    DeviceRegistry& m_registry;
    ElapsedClock m_elapsed;
    FormatSettings m_format;
    Report m_report;
    std::vector<Watch> m_watches;
};

}  // namespace qvlink
