#pragma once

#include <array>

#include "common/bus_types.h"
#include "common/clock.h"
#include "history/history_recorder.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink {

/// Hands the reception path's news to the history recorder: each change of a TS point's
/// state or flags, every TI value, every device event. Runs on the thread that receives and
/// only enqueues. Must outlive the registry's and the tables' use of its hooks.
class HistoryFeed {
public:
    HistoryFeed(DeviceRegistry& registry, TeleparamTables& tables, HistoryRecorder& recorder,
                EpochClock clock = systemEpochMicros);

    /// While muted nothing reaches the recorder (a replay passing again over what it
    /// recorded); what the feed keeps to tell changes goes on following the tables.
    void setMuted(bool muted) { m_muted = muted; }

private:
    void tsStored(const TTs& item);
    void tiStored(const TTi& item);

    HistoryRecorder& m_recorder;
    EpochClock m_clock;
    /// Flags of each TS point's latest item without the time-tag bit, or -1 before its first.
    std::array<int, kPointCount + 1> m_tsFlags;
    bool m_muted = false;
};

}  // namespace qvlink
