#include "trend/trend_series.h"

#include <algorithm>

#include "common/bus_types.h"

namespace qvlink {

std::string seriesLabel(PointId point) {
    return (point.kind == PointKind::Ti ? "ТИ " : "ТС ") + std::to_string(point.number);
}

std::string tsLevelText(int level, bool doublePoint) {
    if (!doublePoint) {
        return level != 0 ? "вкл" : "откл";
    }
    static const char* const kNames[] = {"обрыв", "откл", "вкл", "авария"};
    return kNames[level & 3];
}

TrendSeries::TrendSeries(PointId point, std::int64_t liveFromUs)
    : m_point(point), m_liveFromUs(liveFromUs) {}

void TrendSeries::setHistory(PointHistory history) {
    m_history = std::move(history.samples);
    if (!m_macFromLive) {
        m_flags = history.lastFlags;
        m_lastMac = std::move(history.lastMac);
    }
}

void TrendSeries::addLive(std::int64_t timeUs, double valueOrFlags, const std::string& mac) {
    double value = valueOrFlags;
    if (m_point.kind == PointKind::Ts) {
        m_flags = static_cast<int>(valueOrFlags);
        value = tsLevel(m_flags);
    }
    m_live.push_back({std::max(timeUs, m_live.empty() ? timeUs : m_live.back().timeUs), value});
    m_lastMac = mac;
    m_macFromLive = true;
}

void TrendSeries::trimLive(std::int64_t nowUs) {
    const std::int64_t cutoff = nowUs - kLiveKeepUs;
    if (cutoff <= m_liveFromUs) {
        return;
    }
    const auto firstKept = std::lower_bound(
        m_live.begin(), m_live.end(), cutoff,
        [](const TrendSample& sample, std::int64_t time) { return sample.timeUs < time; });
    m_live.erase(m_live.begin(), firstKept);
    m_liveFromUs = cutoff;
}

std::vector<TrendSample> TrendSeries::samples() const {
    std::vector<TrendSample> merged;
    merged.reserve(m_history.size() + m_live.size());
    for (const TrendSample& sample : m_history) {
        if (sample.timeUs >= m_liveFromUs) {
            break;
        }
        merged.push_back(sample);
    }
    merged.insert(merged.end(), m_live.begin(), m_live.end());
    return merged;
}

bool TrendSeries::valueAt(std::int64_t timeUs, double& value) const {
    const std::vector<TrendSample> all = samples();
    const auto after = std::upper_bound(
        all.begin(), all.end(), timeUs,
        [](std::int64_t time, const TrendSample& sample) { return time < sample.timeUs; });
    if (after == all.begin()) {
        return false;
    }
    value = std::prev(after)->value;
    return true;
}

bool TrendSeries::doublePoint() const {
    return (m_flags & kFlagDoublePoint) != 0;
}

std::string TrendSeries::valueText(double value, const FormatSettings& format) const {
    if (m_point.kind == PointKind::Ts) {
        return tsLevelText(static_cast<int>(value), doublePoint());
    }
    return tiValueText(static_cast<float>(value), format);
}

}  // namespace qvlink
