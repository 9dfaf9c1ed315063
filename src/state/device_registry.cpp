#include "state/device_registry.h"

#include <utility>

#include "state/sequence_accounting.h"

namespace qvlink {

std::string deviceTypeName(std::uint8_t deviceType) {
    const DeviceTypeInfo* type = findDeviceType(deviceType);
    return type != nullptr ? type->name : std::string();
}

DeviceRegistry::DeviceRegistry(Clock clock) : m_clock(std::move(clock)) {}

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
    device.ipAddr = ipAddr;
    device.timeout = 0;
    device.lastReceived = m_clock();
    // A device's first datagram has nothing to compare with; class-only types carry no
    // sequence number at all.
    if (device.sequenced && device.total > 0) {
        switch (classifySequence(device.lastSeq, packet.seq)) {
            case SequenceEvent::Missed:
                ++device.missed;
                break;
            case SequenceEvent::Restart:
                ++device.restarts;
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
        ++m_devices[static_cast<std::size_t>(index)].timeout;
    }
}

}  // namespace qvlink
