#pragma once

// What happens to a device on the bus, as opposed to its latest values: it appears, restarts,
// loses datagrams, falls silent, comes back, moves to another address. The registry computes
// these once; the history, the event log and every later reader subscribe to the same source.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvlink {

/// Seconds without a datagram after which a device counts as silent.
inline constexpr std::uint32_t kSilenceSeconds = 60;

enum class DeviceEventKind { FirstSeen, Restart, Missed, Silent, Returned, IpChanged };

struct DeviceEvent {
    DeviceEventKind kind = DeviceEventKind::FirstSeen;
    std::string mac;
    std::uint8_t deviceType = 0;
    std::string ip;           ///< sender of the datagram that caused the event (latest for Silent)
    std::string previousIp;   ///< IpChanged only: the address the device used before
    int count = 0;            ///< Missed only: datagrams lost between two received ones
    std::int64_t timeUs = 0;  ///< microseconds since 1970 UTC
};

/// Stable lower-case name of a kind ("first_seen", "restart", "missed", "silent", "returned",
/// "ip_changed"), as stored in files.
const char* deviceEventKindName(DeviceEventKind kind);

/// Fan-out of device events to their listeners, called in subscription order on the thread
/// that handles the datagrams (the GUI thread in the monitor).
class DeviceEventSource {
public:
    using Listener = std::function<void(const DeviceEvent&)>;

    void subscribe(Listener listener) { m_listeners.push_back(std::move(listener)); }
    bool hasListeners() const { return !m_listeners.empty(); }
    void publish(const DeviceEvent& event) const;

private:
    std::vector<Listener> m_listeners;
};

}  // namespace qvlink
