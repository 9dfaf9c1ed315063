#pragma once

// One plotted point: what the store held of it when last read, then what the running monitor
// received since the plot began following it. No Qt.

#include <cstdint>
#include <string>
#include <vector>

#include "history/history_reader.h"
#include "common/rendering.h"

namespace qvlink {

/// "ТИ 17" or "ТС 5".
std::string seriesLabel(PointId point);
/// The grid's state name of a TS level ("откл", "вкл", "авария", "обрыв").
std::string tsLevelText(int level, bool doublePoint);

class TrendSeries {
public:
    /// Live values older than this are dropped; the store has them by then.
    static constexpr std::int64_t kLiveKeepUs = 15LL * 60 * 1'000'000;

    /// Follows the point from `liveFromUs` on.
    TrendSeries(PointId point, std::int64_t liveFromUs);

    PointId point() const { return m_point; }
    std::string label() const { return seriesLabel(m_point); }
    /// Replaces what was read from the store.
    void setHistory(PointHistory history);
    /// A value the monitor received at `timeUs` from device `mac`; TS values come as flags.
    void addLive(std::int64_t timeUs, double valueOrFlags, const std::string& mac);
    /// Drops live values older than kLiveKeepUs before `nowUs`.
    void trimLive(std::int64_t nowUs);

    /// The store's samples before the live part began, then the live ones, in time order.
    std::vector<TrendSample> samples() const;
    /// Value in force at `timeUs` (the last sample at or before it); false before the first.
    bool valueAt(std::int64_t timeUs, double& value) const;
    /// The value as the grid writes it: TI with two decimals, TS by its state name.
    std::string valueText(double value, const FormatSettings& format) const;
    bool doublePoint() const;
    /// The device that last sent the point, live or stored.
    const std::string& lastMac() const { return m_lastMac; }

private:
    PointId m_point;
    std::int64_t m_liveFromUs;
    std::vector<TrendSample> m_history;
    std::vector<TrendSample> m_live;
    int m_flags = 0;
    std::string m_lastMac;
    bool m_macFromLive = false;
};

}  // namespace qvlink
