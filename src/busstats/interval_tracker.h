#pragma once

#include <cstdint>

namespace qvlink {

/// A device's rhythm: the running mean and spread of the gaps between its datagrams, and
/// the rule that calls a silence late.
///
/// The first kMemory gaps are averaged exactly; after that each new gap weighs 1/kMemory,
/// so a lasting change of rhythm is learned while a single outage is not. A gap longer
/// than the late threshold is learned as the threshold itself: one long silence does not
/// teach the device that silence is normal.
class IntervalTracker {
public:
    /// Gaps averaged exactly before the mean starts to forget.
    static constexpr int kMemory = 16;
    /// Gaps learned before a silence is judged at all.
    static constexpr int kMinGapsToJudge = 5;
    /// Late means a silence of at least kLateFactor normal intervals...
    static constexpr double kLateFactor = 3.0;
    /// ...and kLateSpreads spreads beyond the mean, so a device that talks irregularly is
    /// not late by its own rhythm...
    static constexpr double kLateSpreads = 4.0;
    /// ...and at least this much beyond the mean, so a fast device is not late for a
    /// pause of the network or of the receiving machine.
    static constexpr double kLateMarginMs = 2000.0;

    /// Learns one gap between two datagrams, in milliseconds.
    void addGap(double gapMs);

    int gapCount() const { return m_gaps; }
    /// Mean gap in milliseconds; 0 before the first gap.
    double meanMs() const { return m_mean; }
    /// Standard deviation of the gaps in milliseconds.
    double spreadMs() const;
    /// A silence longer than this is late; 0 while too few gaps were learned to judge.
    double lateAfterMs() const;
    bool isLate(double silenceMs) const;

private:
    double threshold() const;

    int m_gaps = 0;
    double m_mean = 0.0;
    double m_variance = 0.0;
};

}  // namespace qvlink
