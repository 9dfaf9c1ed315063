#include "busstats/interval_tracker.h"

#include <algorithm>
#include <cmath>

namespace qvlink {

void IntervalTracker::addGap(double gapMs) {
    const double learned = m_gaps >= kMinGapsToJudge ? std::min(gapMs, threshold()) : gapMs;
    m_gaps = m_gaps < kMemory ? m_gaps + 1 : kMemory;
    // Weighted running mean and variance (exact for the first kMemory gaps).
    const double weight = 1.0 / m_gaps;
    const double difference = learned - m_mean;
    const double step = weight * difference;
    m_mean += step;
    m_variance = (1.0 - weight) * (m_variance + difference * step);
}

double IntervalTracker::spreadMs() const {
    return std::sqrt(m_variance);
}

double IntervalTracker::threshold() const {
    return std::max(
        {kLateFactor * m_mean, m_mean + kLateSpreads * spreadMs(), m_mean + kLateMarginMs});
}

double IntervalTracker::lateAfterMs() const {
    return m_gaps >= kMinGapsToJudge ? threshold() : 0.0;
}

bool IntervalTracker::isLate(double silenceMs) const {
    return m_gaps >= kMinGapsToJudge && silenceMs > threshold();
}

}  // namespace qvlink
