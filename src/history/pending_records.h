#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/bus_types.h"
#include "history/history_records.h"

namespace qvlink {

/// The bounded in-memory queue between the reception path and the history writer.
/// TI values fold into one row per point and second as they arrive. When the TI rows reach
/// their bound, the oldest pending seconds of each point are folded pairwise (min, max,
/// count and the later last value kept exact); TS changes and device events are never folded:
/// beyond their bound they are dropped and counted. Not thread-safe: the recorder guards it.
class PendingRecords {
public:
    /// `tiCapacity` is raised to what folding needs to make room (two rows per point).
    PendingRecords(std::size_t tiCapacity, std::size_t changeCapacity);

    void addTsChange(TsChange change);
    void addEvent(const DeviceEvent& event);
    /// Folds one value received at `rxUs` into its point's second. NaN has no place in a
    /// minimum or maximum and is not recorded.
    void addTiValue(int point, std::int64_t rxUs, const std::string& mac, float value);

    /// Everything pending and the drop counts since the previous take; leaves the queue empty.
    RecordBatch take();

    std::size_t pendingTiSeconds() const { return m_batch.tiSeconds.size(); }
    /// Totals since construction.
    std::uint64_t foldedTiSeconds() const { return m_foldedTiSeconds; }
    std::uint64_t lostTsChanges() const { return m_lostTsChanges; }
    std::uint64_t lostEvents() const { return m_lostEvents; }

private:
    /// Folds consecutive pending seconds of each point pairwise, oldest half of the queue
    /// first; the whole queue when that frees nothing.
    void foldOldestTiSeconds();
    std::size_t foldPairs(std::size_t end);
    void reindexNewestTiSeconds();

    std::size_t m_tiCapacity;
    std::size_t m_changeCapacity;
    RecordBatch m_batch;
    /// Position in m_batch.tiSeconds of each point's newest pending second, or -1.
    std::array<int, kPointCount + 1> m_newestTiSecond;
    std::uint64_t m_foldedTiSeconds = 0;
    std::uint64_t m_lostTsChanges = 0;
    std::uint64_t m_lostEvents = 0;
};

}  // namespace qvlink
