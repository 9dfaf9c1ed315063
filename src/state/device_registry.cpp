#include "state/device_registry.h"

#include <utility>

#include "state/sequence_accounting.h"

namespace qvlink {

std::string deviceTypeName(std::uint8_t deviceType) {
    const DeviceTypeInfo* type = findDeviceType(deviceType);
    return type != nullptr ? type->name : std::string();
}

namespace {

/// Datagrams lost between two received sequence numbers, counted across the wrap.
int datagramsLostBetween(std::uint8_t last, std::uint8_t next) {
    return static_cast<std::uint8_t>(next - last - 1);
}

}  // namespace

DeviceRegistry::DeviceRegistry(Clock clock, EpochClock epochClock)
    : m_clock(std::move(clock)), m_epochClock(std::move(epochClock)) {}

void DeviceRegistry::clear() {
    m_devices.clear();
    m_indexByMac.clear();
}

void DeviceRegistry::updateDevice(const std::string& ipAddr, const TPacket& packet) {
    int index = indexOfDevice(packet.macAddr);
    if (index < 0) {
        if (deviceCount() >= kMaxDevices) {
            return;
        }
        index = deviceCount();
        TDevice& added = m_devices.emplace_back();
        added.deviceType = packet.deviceType;
        added.macAddr = packet.macAddr;
        added.sequenced = packet.sequenced;
        m_indexByMac.emplace(packet.macAddr, index);
    }

    TDevice& device = m_devices[static_cast<std::size_t>(index)];
    if (device.total == 0) {
        publish(DeviceEventKind::FirstSeen, device, ipAddr);
    } else {
        if (device.timeout >= kSilenceSeconds) {
            publish(DeviceEventKind::Returned, device, ipAddr);
        }
        if (device.ipAddr != ipAddr) {
            publish(DeviceEventKind::IpChanged, device, ipAddr, 0, device.ipAddr);
        }
    }
    device.ipAddr = ipAddr;
    device.timeout = 0;
    device.lastReceived = m_clock();
    // A device's first datagram has nothing to compare with; class-only types carry no
    // sequence number at all.
    if (device.sequenced && device.total > 0) {
        switch (classifySequence(device.lastSeq, packet.seq)) {
            case SequenceEvent::Missed:
                ++device.missed;
                publish(DeviceEventKind::Missed, device, ipAddr,
                        datagramsLostBetween(device.lastSeq, packet.seq));
                break;
            case SequenceEvent::Restart:
                ++device.restarts;
                publish(DeviceEventKind::Restart, device, ipAddr);
                break;
            case SequenceEvent::None:
                break;
        }
    }
    device.lastSeq = packet.seq;
    ++device.total;
}

bool DeviceRegistry::getDevice(int number, TDevice& device) const {
    if (number < 1 || number > deviceCount()) {
        return false;
    }
    device = m_devices[static_cast<std::size_t>(number - 1)];
    return true;
}

bool DeviceRegistry::findDeviceByMac(const std::string& macAddr, TDevice& device) const {
    const int index = indexOfDevice(macAddr);
    if (index < 0) {
        return false;
    }
    device = m_devices[static_cast<std::size_t>(index)];
    return true;
}

int DeviceRegistry::indexOfDevice(const std::string& macAddr) const {
    const auto found = m_indexByMac.find(macAddr);
    return found != m_indexByMac.end() ? found->second : -1;
}

void DeviceRegistry::incDeviceTimeout(int index) {
    if (index >= 0 && index < deviceCount()) {
        TDevice& device = m_devices[static_cast<std::size_t>(index)];
        if (++device.timeout == kSilenceSeconds) {
            publish(DeviceEventKind::Silent, device, device.ipAddr);
        }
    }
}

void DeviceRegistry::publish(DeviceEventKind kind, const TDevice& device, const std::string& ipAddr,
                             int count, const std::string& previousIp) {
    if (!m_events.hasListeners()) {
        return;
    }
    m_events.publish(DeviceEvent{kind, device.macAddr, device.deviceType, ipAddr, previousIp, count,
                                 m_epochClock()});
}

}  // namespace qvlink
