#include "app/bus_reception.h"

#include <utility>

namespace qvlink {

BusReception::BusReception(DeviceRegistry& registry, TeleparamTables& tables,
                           BusStatistics& statistics, ElapsedClock elapsed)
    : m_registry(registry),
      m_tables(tables),
      m_statistics(statistics),
      m_elapsed(std::move(elapsed)) {}

void BusReception::recordHistory(HistoryRecorder& recorder, EpochClock clock) {
    m_historyFeed = std::make_unique<HistoryFeed>(m_registry, m_tables, recorder, std::move(clock));
}

void BusReception::setHistoryMuted(bool muted) {
    if (m_historyFeed) {
        m_historyFeed->setMuted(muted);
    }
}

DatagramVerdict BusReception::receive(const std::uint8_t* data, std::size_t size,
                                      const std::string& senderIp) {
    const DatagramVerdict verdict = classifyDatagram(data, size);
    if (verdict != DatagramVerdict::Accepted || !parsePacket(data, size, m_packet)) {
        m_statistics.countDropped(dropReasonOf(verdict).value_or(DropReason::UnknownType),
                                  senderIp);
        return verdict;
    }
    m_registry.updateDevice(senderIp, m_packet);
    m_statistics.countAccepted(m_packet, size, m_elapsed());
    if (m_traceHook) {
        m_traceHook(senderIp, m_packet);
    }
    if (m_packet.sequenced) {
        processTiPacket(m_packet, m_tables);
        processTsPacket(m_packet, m_tables);
    }
    return verdict;
}

void BusReception::receiveCaptured(std::span<const std::uint8_t> kept, std::size_t length,
                                   const std::string& senderIp) {
    if (length == 0 || length > kMaxDatagramSize) {
        m_statistics.countDropped(length == 0 ? DropReason::Empty : DropReason::TooLong, senderIp);
        return;
    }
    receive(kept.data(), kept.size(), senderIp);
}

}  // namespace qvlink
