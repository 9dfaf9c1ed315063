#pragma once

#include <atomic>
#include <cstdint>

#include "busstats/elapsed_clock.h"
#include "common/clock.h"

namespace qvlink {

/// The program's time during a replay: the capture's timestamp of what is being replayed.
/// Every clock the monitor reads (reception times, history times, the statistics' timeline)
/// is drawn from here, so the windows show what they showed when the capture was taken.
/// Set on the thread that replays; any thread may read it (the history writer does).
class ReplayClock {
public:
    void set(std::int64_t epochMicros) { m_nowUs.store(epochMicros, std::memory_order_relaxed); }
    std::int64_t nowMicros() const { return m_nowUs.load(std::memory_order_relaxed); }

    /// Readings of this clock, valid while it lives.
    Clock localClock() const;
    EpochClock epochClock() const;
    ElapsedClock elapsedClock() const;

private:
    std::atomic<std::int64_t> m_nowUs{0};
};

}  // namespace qvlink
