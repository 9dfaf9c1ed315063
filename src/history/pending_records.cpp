#include "history/pending_records.h"

#include <algorithm>
#include <cmath>

namespace qvlink {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;

/// Unix second of a time in microseconds, rounded down also before 1970.
std::int64_t secondOf(std::int64_t timeUs) {
    return timeUs >= 0 ? timeUs / kMicrosPerSecond : -((-timeUs - 1) / kMicrosPerSecond) - 1;
}

void foldValue(TiSecond& row, double value) {
    row.last = value;
    row.min = std::min(row.min, value);
    row.max = std::max(row.max, value);
    ++row.count;
}

/// Folds the later row `next` into `earlier`, which keeps its second.
void foldRows(TiSecond& earlier, TiSecond& next) {
    earlier.last = next.last;
    earlier.min = std::min(earlier.min, next.min);
    earlier.max = std::max(earlier.max, next.max);
    earlier.count += next.count;
    earlier.mac = std::move(next.mac);
}

bool isPoint(int point) {
    return point >= 1 && point <= kPointCount;
}

}  // namespace

PendingRecords::PendingRecords(std::size_t tiCapacity, std::size_t changeCapacity)
    : m_tiCapacity(std::max<std::size_t>(tiCapacity, 2 * kPointCount + 2)),
      m_changeCapacity(changeCapacity) {
    m_newestTiSecond.fill(-1);
}

void PendingRecords::addTsChange(TsChange change) {
    if (m_batch.tsChanges.size() >= m_changeCapacity) {
        ++m_batch.lostTsChanges;
        ++m_lostTsChanges;
        return;
    }
    m_batch.tsChanges.push_back(std::move(change));
}

void PendingRecords::addEvent(const DeviceEvent& event) {
    if (m_batch.events.size() >= m_changeCapacity) {
        ++m_batch.lostEvents;
        ++m_lostEvents;
        return;
    }
    m_batch.events.push_back(event);
}

void PendingRecords::addTiValue(int point, std::int64_t rxUs, const std::string& mac, float value) {
    if (!isPoint(point) || std::isnan(value)) {
        return;
    }
    const std::int64_t second = secondOf(rxUs);
    std::vector<TiSecond>& rows = m_batch.tiSeconds;
    const int newest = m_newestTiSecond[static_cast<std::size_t>(point)];
    if (newest >= 0 && rows[static_cast<std::size_t>(newest)].second == second) {
        TiSecond& row = rows[static_cast<std::size_t>(newest)];
        foldValue(row, value);
        if (row.mac != mac) {
            row.mac = mac;
        }
        return;
    }
    if (rows.size() >= m_tiCapacity) {
        foldOldestTiSeconds();
    }
    m_newestTiSecond[static_cast<std::size_t>(point)] = static_cast<int>(rows.size());
    rows.push_back(TiSecond{point, second, value, value, value, 1, mac});
}

RecordBatch PendingRecords::take() {
    RecordBatch taken = std::move(m_batch);
    m_batch = RecordBatch{};
    m_newestTiSecond.fill(-1);
    return taken;
}

void PendingRecords::foldOldestTiSeconds() {
    if (foldPairs(m_batch.tiSeconds.size() / 2) == 0) {
        foldPairs(m_batch.tiSeconds.size());
    }
    reindexNewestTiSeconds();
}

std::size_t PendingRecords::foldPairs(std::size_t end) {
    std::vector<TiSecond>& rows = m_batch.tiSeconds;
    std::array<int, kPointCount + 1> openPair;
    openPair.fill(-1);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < end; ++i) {
        int& open = openPair[static_cast<std::size_t>(rows[i].point)];
        if (open >= 0) {
            foldRows(rows[static_cast<std::size_t>(open)], rows[i]);
            open = -1;
            continue;
        }
        open = static_cast<int>(kept);
        if (kept != i) {
            rows[kept] = std::move(rows[i]);
        }
        ++kept;
    }
    const std::size_t folded = end - kept;
    if (folded > 0) {
        std::move(rows.begin() + static_cast<std::ptrdiff_t>(end), rows.end(),
                  rows.begin() + static_cast<std::ptrdiff_t>(kept));
        rows.resize(rows.size() - folded);
        m_foldedTiSeconds += folded;
    }
    return folded;
}

void PendingRecords::reindexNewestTiSeconds() {
    m_newestTiSecond.fill(-1);
    const std::vector<TiSecond>& rows = m_batch.tiSeconds;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_newestTiSecond[static_cast<std::size_t>(rows[i].point)] = static_cast<int>(i);
    }
}

}  // namespace qvlink
