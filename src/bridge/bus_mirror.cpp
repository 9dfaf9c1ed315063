#include "bridge/bus_mirror.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "protocol/packets.h"

namespace qvlink::bridge {

namespace {

constexpr std::int64_t kSecondUs = 1'000'000;

}  // namespace

BusMirror::BusMirror(Outbox& outbox, MirrorSettings settings)
    : m_outbox(outbox),
      m_settings(std::move(settings)),
      m_registry([this] { return m_localTime; }, [this] { return m_stampUs; }),
      m_tables([this] { return m_localTime; }) {
    m_registry.events().subscribe([this](const DeviceEvent& event) { onEvent(event); });
    m_tables.addTsListener([this](const TTs& item) { onTs(item); });
    m_tables.addTiListener([this](const TTi& item) { onTi(item); });
}

void BusMirror::add(std::int64_t timeUs, const std::string& senderIp, const std::uint8_t* data,
                    std::size_t size) {
    advanceTo(timeUs);
    if (m_nextTickUs == 0) {
        m_nextTickUs = m_nowUs + kSecondUs;
    }
    // A datagram is stamped with its own capture time, even one that arrives after the bus
    // clock has moved on.
    setStamp(timeUs);
    if (classifyDatagram(data, size) != DatagramVerdict::Accepted ||
        !parsePacket(data, size, m_packet)) {
        return;
    }
    m_registry.updateDevice(senderIp, m_packet);
    const int index = m_registry.indexOfDevice(m_packet.macAddr);
    if (index >= 0) {
        if (static_cast<std::size_t>(index) >= m_devices.size()) {
            m_devices.resize(static_cast<std::size_t>(index) + 1);
        }
        m_devices[static_cast<std::size_t>(index)] = DeviceTrack{timeUs, true};
    }
    if (m_packet.sequenced) {
        processTiPacket(m_packet, m_tables);
        processTsPacket(m_packet, m_tables);
    }
    publishDevices(true);
}

void BusMirror::advanceTo(std::int64_t nowUs) {
    m_nowUs = std::max(m_nowUs, nowUs);
    setStamp(m_nowUs);
    if (m_nextTickUs != 0 && m_nowUs >= m_nextTickUs) {
        const std::int64_t seconds = (m_nowUs - m_nextTickUs) / kSecondUs + 1;
        m_nextTickUs += seconds * kSecondUs;
        // Beyond the silence threshold, further seconds change nothing that is published.
        for (std::int64_t s = 0; s < std::min<std::int64_t>(seconds, kSilenceSeconds); ++s) {
            ageDevices();
        }
        publishDevices(false);
    }
    releaseHeldTi(false);
}

void BusMirror::flush() {
    releaseHeldTi(true);
    publishDevices(false);
}

void BusMirror::setStamp(std::int64_t timeUs) {
    m_stampUs = timeUs;
    const std::time_t second = static_cast<std::time_t>(timeUs / kSecondUs);
    if (second != m_localSecond) {
        m_localSecond = second;
        std::tm local{};
        localtime_r(&second, &local);
        m_localTime = LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                    local.tm_hour,        local.tm_min,     local.tm_sec};
    }
    m_localTime.msec = static_cast<int>(timeUs % kSecondUs / 1000);
}

void BusMirror::onEvent(const DeviceEvent& event) {
    m_outbox.putEvent(topic("event"), eventJson(event));
    m_urgent.push_back(m_registry.indexOfDevice(event.mac));
}

void BusMirror::onTs(const TTs& item) {
    PointTrack& track = m_ts[item.number];
    if (track.published && track.flags == item.flags && track.mac == item.macAddr) {
        return;
    }
    track.published = true;
    track.flags = item.flags;
    track.mac = item.macAddr;
    m_outbox.putRetained(topic("ts/" + std::to_string(item.number)), tsJson(item, m_stampUs));
}

void BusMirror::onTi(const TTi& item) {
    PointTrack& track = m_ti[item.number];
    const bool unchanged = track.published && track.flags == item.flags &&
                           track.valueBits == std::bit_cast<std::uint32_t>(item.value) &&
                           track.mac == item.macAddr;
    if (unchanged) {
        track.held = false;  // back to the value subscribers have
        return;
    }
    if (!track.published || m_stampUs - track.publishedUs >= m_settings.tiIntervalUs) {
        publishTi(item, m_stampUs, track);
        return;
    }
    if (!track.held) {
        m_heldTi.push_back(item.number);
    }
    track.held = true;
    track.heldItem = item;
    track.heldUs = m_stampUs;
}

void BusMirror::publishTi(const TTi& item, std::int64_t receivedUs, PointTrack& track) {
    track.published = true;
    track.held = false;
    track.flags = item.flags;
    track.valueBits = std::bit_cast<std::uint32_t>(item.value);
    track.mac = item.macAddr;
    track.publishedUs = m_stampUs;
    m_outbox.putRetained(topic("ti/" + std::to_string(item.number)),
                         tiJson(item, receivedUs, FormatSettings{}));
}

void BusMirror::releaseHeldTi(bool all) {
    std::erase_if(m_heldTi, [this, all](std::uint16_t number) {
        PointTrack& track = m_ti[number];
        if (!track.held) {
            return true;
        }
        if (!all && m_stampUs - track.publishedUs < m_settings.tiIntervalUs) {
            return false;
        }
        publishTi(track.heldItem, track.heldUs, track);
        return true;
    });
}

void BusMirror::ageDevices() {
    for (int index = 0; index < m_registry.deviceCount(); ++index) {
        m_registry.incDeviceTimeout(index);
    }
}

void BusMirror::publishDevices(bool eventsOnly) {
    for (const int index : m_urgent) {
        publishDevice(index);
    }
    m_urgent.clear();
    if (eventsOnly) {
        return;
    }
    for (std::size_t index = 0; index < m_devices.size(); ++index) {
        if (m_devices[index].changed) {
            publishDevice(static_cast<int>(index));
        }
    }
}

void BusMirror::publishDevice(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_devices.size()) {
        return;
    }
    DeviceTrack& track = m_devices[static_cast<std::size_t>(index)];
    track.changed = false;
    const TDevice& device = m_registry.deviceAt(index);
    m_outbox.putRetained(topic("device/" + device.macAddr),
                         deviceJson(device, track.lastUs, device.timeout >= kSilenceSeconds));
}

std::string BusMirror::topic(const std::string& path) const {
    return m_settings.prefix + "/" + path;
}

}  // namespace qvlink::bridge
