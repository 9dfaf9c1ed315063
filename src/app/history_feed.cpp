#include "app/history_feed.h"

#include "common/rendering.h"
#include "history/history_reader.h"

namespace qvlink {
namespace {

/// The flag bits that describe the signal; whether a time tag followed is framing.
int signalFlags(std::uint8_t flags) {
    return flags & ~kTimeTagFollows;
}

}  // namespace

HistoryFeed::HistoryFeed(DeviceRegistry& registry, TeleparamTables& tables,
                         HistoryRecorder& recorder, EpochClock clock)
    : m_recorder(recorder), m_clock(std::move(clock)) {
    m_tsFlags.fill(-1);
    registry.events().subscribe([this](const DeviceEvent& event) {
        if (!m_muted) {
            m_recorder.recordEvent(event);
        }
    });
    tables.addTsListener([this](const TTs& item) { tsStored(item); });
    tables.addTiListener([this](const TTi& item) { tiStored(item); });
}

void HistoryFeed::tsStored(const TTs& item) {
    int& lastFlags = m_tsFlags[item.number];
    if (lastFlags == signalFlags(item.flags)) {
        return;
    }
    lastFlags = signalFlags(item.flags);
    if (m_muted) {
        return;
    }
    m_recorder.recordTsChange(TsChange{item.number, m_clock(), timeTagMicros(item.timeTag),
                                       item.macAddr, tsLevel(item.flags), item.flags});
}

void HistoryFeed::tiStored(const TTi& item) {
    if (m_muted) {
        return;
    }
    m_recorder.recordTiValue(item.number, m_clock(), item.macAddr, item.value);
}

}  // namespace qvlink
