#pragma once

// The process a device watches: discrete signals that toggle now and then (two-position ones
// sometimes into fault or line break) and measurements that drift smoothly around their
// nominal values. Random, but repeatable from the generator's seed.

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace qvlink::sim {

using Random = std::mt19937_64;

/// Consecutive point numbers owned by one device.
struct PointRange {
    std::uint16_t first = 0;
    std::uint16_t count = 0;

    std::uint16_t last() const { return static_cast<std::uint16_t>(first + count - 1); }
};

/// A discrete signal: its current state bits and, for a two-position one, the
/// two-position marker (never the time-tag bit).
struct TsSignal {
    std::uint16_t number = 0;
    std::uint8_t flags = 0;
};

/// A measurement and the value last reported for it.
struct TiSignal {
    std::uint16_t number = 0;
    float value = 0.0F;
    float reported = 0.0F;
    float nominal = 0.0F;
};

class SignalModel {
public:
    SignalModel(PointRange ts, PointRange ti, Random& random);

    /// Lets `elapsedMs` of process time pass and appends the positions (in ts() and ti()) of
    /// the signals that changed and of the measurements that moved out of their deadband
    /// around the value last reported.
    void step(Random& random, int elapsedMs, std::vector<std::size_t>& changedTs,
              std::vector<std::size_t>& changedTi);

    void markReported(std::size_t ti) { m_ti[ti].reported = m_ti[ti].value; }

    std::span<const TsSignal> ts() const { return m_ts; }
    std::span<const TiSignal> ti() const { return m_ti; }

private:
    std::vector<TsSignal> m_ts;
    std::vector<TiSignal> m_ti;
};

}  // namespace qvlink::sim
