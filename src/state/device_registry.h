#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/bus_types.h"
#include "common/clock.h"
#include "state/device_events.h"

namespace qvlink {

/// One registered device.
struct TDevice {
    std::uint8_t deviceType = 0;  ///< from the device's first datagram
    std::string ipAddr;           ///< sender of the latest datagram
    std::string macAddr;          ///< registry key
    bool sequenced = false;       ///< from the device's first datagram
    std::uint8_t lastSeq = 0;
    std::uint32_t total = 0;
    std::uint16_t missed = 0;
    std::uint16_t restarts = 0;
    std::uint32_t timeout = 0;  ///< seconds since the latest datagram, raised by each refresh
    LocalDateTime lastReceived;
};

/// Display name of a device type code; empty for a code outside the table.
std::string deviceTypeName(std::uint8_t deviceType);

/// Every device heard since start-up, numbered from 1 in order of first appearance.
/// Look-ups copy entries out; entries are never removed or reordered.
class DeviceRegistry {
public:
    /// Positions are signed 16-bit: devices 1 to 32768.
    static constexpr int kMaxDevices = 32768;

    explicit DeviceRegistry(Clock clock = systemLocalTime,
                            EpochClock epochClock = systemEpochMicros);

    /// The device events this registry publishes: FirstSeen, Returned, IpChanged, Restart
    /// and Missed from updateDevice, Silent from the refresh that ages a device to
    /// kSilenceSeconds.
    DeviceEventSource& events() { return m_events; }

    /// Registers or updates the sender of one accepted datagram. A new device beyond
    /// kMaxDevices leaves the registry unchanged.
    void updateDevice(const std::string& ipAddr, const TPacket& packet);

    /// Copy of device `number` (1-based); false, `device` untouched, when out of range.
    bool getDevice(int number, TDevice& device) const;
    /// Copy of the device with exactly this MAC text; false when there is none.
    bool findDeviceByMac(const std::string& macAddr, TDevice& device) const;
    /// The device at 0-based `index`, read in place (0 <= index < deviceCount()).
    const TDevice& deviceAt(int index) const { return m_devices[static_cast<std::size_t>(index)]; }
    /// 0-based position of the device with this MAC text, or -1.
    int indexOfDevice(const std::string& macAddr) const;
    /// Adds one second to the age of the device at 0-based `index`; out of range is ignored.
    /// The second that reaches kSilenceSeconds publishes Silent.
    void incDeviceTimeout(int index);
    int deviceCount() const { return static_cast<int>(m_devices.size()); }
    /// Forgets every device, as at start-up (a replay that starts over); the listeners stay.
    void clear();

private:
    /// Stamps and publishes one event of `device`; costs nothing without listeners.
    void publish(DeviceEventKind kind, const TDevice& device, const std::string& ipAddr,
                 int count = 0, const std::string& previousIp = {});

    Clock m_clock;
    EpochClock m_epochClock;
    DeviceEventSource m_events;
    std::vector<TDevice> m_devices;
    std::unordered_map<std::string, int> m_indexByMac;
};

}  // namespace qvlink
