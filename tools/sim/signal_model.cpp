#include "signal_model.h"

#include <array>
#include <cmath>

#include "common/bus_types.h"

namespace qvlink::sim {
namespace {

/// A discrete signal changes on average this often.
constexpr double kTsMeanChangeMs = 120000.0;
/// Share of changes of a two-position signal that go to fault or line break.
constexpr double kTsFaultShare = 0.1;
/// Every fourth point is a two-position signal (switchgear with two auxiliary contacts).
constexpr int kDoublePointEvery = 4;

constexpr std::uint8_t kDoubleOn = kFlagDoublePoint | kFlagHighBit;  // "10"
constexpr std::uint8_t kDoubleOff = kFlagDoublePoint | kFlagState;   // "01"
constexpr std::uint8_t kDoubleFault = kDoubleOn | kFlagState;        // "11"
constexpr std::uint8_t kDoubleLineBreak = kFlagDoublePoint;          // "00"

/// Nominal values of the kinds of measurement, taken in turn by point number:
/// line voltage in kV, phase voltage in V, current in A, frequency in Hz.
constexpr std::array<float, 4> kNominals{6.3F, 220.0F, 120.0F, 50.0F};
/// Spread of a measurement around its nominal value, and the change that is reported.
constexpr double kSpreadShare = 0.03;
constexpr double kDeadbandShare = 0.02;
/// How fast a measurement is drawn back to its nominal value.
constexpr double kReversionSeconds = 60.0;

std::uint8_t nextDoubleState(std::uint8_t flags, Random& random) {
    const bool normal = flags == kDoubleOn || flags == kDoubleOff;
    if (!normal) {
        return std::bernoulli_distribution(0.5)(random) ? kDoubleOn : kDoubleOff;
    }
    if (std::bernoulli_distribution(kTsFaultShare)(random)) {
        return std::bernoulli_distribution(0.5)(random) ? kDoubleFault : kDoubleLineBreak;
    }
    return flags == kDoubleOn ? kDoubleOff : kDoubleOn;
}

}  // namespace

SignalModel::SignalModel(PointRange ts, PointRange ti, Random& random) {
    std::bernoulli_distribution coin(0.5);
    for (std::uint16_t i = 0; i < ts.count; ++i) {
        const auto number = static_cast<std::uint16_t>(ts.first + i);
        const bool on = coin(random);
        const std::uint8_t flags = number % kDoublePointEvery == 0
                                       ? (on ? kDoubleOn : kDoubleOff)
                                       : static_cast<std::uint8_t>(on ? kFlagState : 0);
        m_ts.push_back({number, flags});
    }
    std::normal_distribution<double> normal;
    for (std::uint16_t i = 0; i < ti.count; ++i) {
        const auto number = static_cast<std::uint16_t>(ti.first + i);
        const float nominal = kNominals[number % kNominals.size()];
        const auto value = static_cast<float>(nominal * (1.0 + kSpreadShare * normal(random)));
        m_ti.push_back({number, value, value, nominal});
    }
}

void SignalModel::step(Random& random, int elapsedMs, std::vector<std::size_t>& changedTs,
                       std::vector<std::size_t>& changedTi) {
    std::bernoulli_distribution changes(elapsedMs / kTsMeanChangeMs);
    for (std::size_t i = 0; i < m_ts.size(); ++i) {
        if (!changes(random)) {
            continue;
        }
        TsSignal& signal = m_ts[i];
        signal.flags = (signal.flags & kFlagDoublePoint) != 0
                           ? nextDoubleState(signal.flags, random)
                           : static_cast<std::uint8_t>(signal.flags ^ kFlagState);
        changedTs.push_back(i);
    }

    // Mean-reverting random walk: the spread stays kSpreadShare of the nominal value.
    const double dt = elapsedMs / 1000.0;
    const double pull = dt / kReversionSeconds;
    const double kick = std::sqrt(2.0 * pull) * kSpreadShare;
    std::normal_distribution<double> normal;
    for (std::size_t i = 0; i < m_ti.size(); ++i) {
        TiSignal& signal = m_ti[i];
        const double nominal = signal.nominal;
        signal.value = static_cast<float>(signal.value + (nominal - signal.value) * pull +
                                          nominal * kick * normal(random));
        if (std::fabs(signal.value - signal.reported) > nominal * kDeadbandShare) {
            changedTi.push_back(i);
        }
    }
}

}  // namespace qvlink::sim
