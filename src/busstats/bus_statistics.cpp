#include "busstats/bus_statistics.h"

#include <algorithm>

namespace qvlink {

BusStatistics::BusStatistics(const DeviceRegistry& registry) : m_registry(registry) {}

void BusStatistics::clear() {
    m_devices.clear();
    m_accepted = 0;
    m_drops = {};
    m_kernelDrops = 0;
    m_mix.clear();
}

void BusStatistics::countAccepted(const TPacket& packet, std::size_t size, std::int64_t nowMs) {
    ++m_accepted;
    ++m_mix[{packet.deviceType, packet.msgClass}];
    const int index = m_registry.indexOfDevice(packet.macAddr);
    if (index < 0) {
        return;  // a new device the full registry did not take
    }
    const auto position = static_cast<std::size_t>(index);
    const bool first = position >= m_devices.size();
    if (first) {
        m_devices.resize(position + 1);
    }
    DeviceTraffic& traffic = m_devices[position];
    traffic.bytes += size;
    traffic.recent.add(nowMs);
    if (!first) {
        traffic.interval.addGap(
            static_cast<double>(std::max<std::int64_t>(0, nowMs - traffic.lastArrivalMs)));
    }
    traffic.lastArrivalMs = nowMs;
    traffic.lateReported = false;

    const TDevice& device = m_registry.deviceAt(index);
    if (device.restarts != traffic.restartsSeen) {
        traffic.restartsSeen = device.restarts;
        traffic.lastRestart = device.lastReceived;
    }
}

void BusStatistics::countDropped(DropReason reason, std::string_view senderIp) {
    DropTally& tally = m_drops[static_cast<std::size_t>(reason)];
    ++tally.count;
    tally.lastSender.assign(senderIp);
}

void BusStatistics::setDropTally(DropReason reason, DropTally tally) {
    m_drops[static_cast<std::size_t>(reason)] = std::move(tally);
}

std::uint64_t BusStatistics::droppedCount() const {
    std::uint64_t total = 0;
    for (const DropTally& tally : m_drops) {
        total += tally.count;
    }
    return total;
}

bool BusStatistics::viewDevice(int number, std::int64_t nowMs, DeviceStatisticsView& view) const {
    if (!m_registry.getDevice(number, view.device)) {
        return false;
    }
    static const DeviceTraffic kUnheard;
    const auto position = static_cast<std::size_t>(number - 1);
    const DeviceTraffic& traffic = position < m_devices.size() ? m_devices[position] : kUnheard;
    view.bytes = traffic.bytes;
    view.ratePerSecond = traffic.recent.perSecondAt(nowMs);
    view.gapsLearned = traffic.interval.gapCount();
    view.intervalMs = traffic.interval.meanMs();
    view.spreadMs = traffic.interval.spreadMs();
    view.silenceMs = static_cast<double>(std::max<std::int64_t>(0, nowMs - traffic.lastArrivalMs));
    view.late = traffic.interval.isLate(view.silenceMs);
    view.lastRestart = traffic.lastRestart;
    return true;
}

std::vector<int> BusStatistics::takeNewlyLate(std::int64_t nowMs) {
    std::vector<int> numbers;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        DeviceTraffic& traffic = m_devices[i];
        const auto silence = static_cast<double>(nowMs - traffic.lastArrivalMs);
        if (!traffic.lateReported && traffic.interval.isLate(silence)) {
            traffic.lateReported = true;
            numbers.push_back(static_cast<int>(i) + 1);
        }
    }
    return numbers;
}

}  // namespace qvlink
