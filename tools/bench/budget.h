#pragma once

// The budgets qvlink-bench checks its figures against, each written once: the verdict's
// printed limit and its test come from the same value.

#include <string>

namespace qvlink::bench {

struct Budget {
    enum class Bound { AtMost, AtLeast };

    Bound bound;
    double limit;      ///< in the unit of `unit`
    const char* unit;  ///< printed right after the limit: " ms", "%", "/s", " MiB"

    /// Whether a figure, in the budget's unit, keeps the budget; the limit itself does.
    bool keptBy(double figure) const;
    /// "<= 300 ms", ">= 40%".
    std::string text() const;
};

// Budgets on the reference machines (2 cores), trace window open and tracing on.
inline constexpr Budget kSustainedRateBudget{Budget::Bound::AtLeast, 200'000, "/s"};
/// The sustained rate as a share of what bare recvfrom() handles on the same machine.
inline constexpr Budget kShareOfRecvfromBudget{Budget::Bound::AtLeast, 40, "%"};
inline constexpr Budget kTickBudget{Budget::Bound::AtMost, 2, " ms"};
inline constexpr Budget kManyDevicesTickBudget{Budget::Bound::AtMost, 50, " ms"};
/// Share of a core at 1000 datagrams/s.
inline constexpr Budget kTracedCpuBudget{Budget::Bound::AtMost, 5, "%"};
inline constexpr Budget kHiddenCpuBudget{Budget::Bound::AtMost, 2, "%"};
inline constexpr Budget kResidentMemoryBudget{Budget::Bound::AtMost, 60, " MiB"};
/// Growth of the resident memory over the last half of the flood that still counts as flat.
inline constexpr Budget kFlatGrowthBudget{Budget::Bound::AtMost, 1, " MiB"};
inline constexpr Budget kStartupBudget{Budget::Bound::AtMost, 300, " ms"};
/// What recording the history adds: percentage points of a core at 1000 datagrams/s, and
/// the longest handling of one datagram.
inline constexpr Budget kRecordingCpuBudget{Budget::Bound::AtMost, 1, " pp"};
inline constexpr Budget kRecordingDelayBudget{Budget::Bound::AtMost, 2, " ms"};
/// Datagrams the bus recording left out at 200,000 datagrams/s.
inline constexpr Budget kNotRecordedBudget{Budget::Bound::AtMost, 0, ""};
/// The trend window over a history file, one TI value per second: from the command that
/// opens it to the painted plot, 24 hours and 7 days of one point, and one pan or zoom frame
/// over 7 days of 4 points.
inline constexpr Budget kTrendOpenDayBudget{Budget::Bound::AtMost, 150, " ms"};
inline constexpr Budget kTrendOpenWeekBudget{Budget::Bound::AtMost, 600, " ms"};
inline constexpr Budget kTrendPanFrameBudget{Budget::Bound::AtMost, 16, " ms"};
/// Replay as fast as possible of 1,000,000 datagrams of the load mix, trace open: datagrams a
/// second, and as a share of qvlink-dump -r's decode rate on the same file; and a seek that
/// rebuilds the state of the whole capture.
inline constexpr Budget kReplayRateBudget{Budget::Bound::AtLeast, 200'000, "/s"};
inline constexpr Budget kReplayShareOfDumpBudget{Budget::Bound::AtLeast, 40, "%"};
inline constexpr Budget kReplaySeekBudget{Budget::Bound::AtMost, 3000, " ms"};
/// Watching a bus through a broker on the same machine: from the bridge's capture of a
/// datagram to the remote monitor's trace, median.
inline constexpr Budget kRemoteLatencyBudget{Budget::Bound::AtMost, 50, " ms"};
/// qvlink-dump --mqtt at 10,000 datagrams/s of the simulator's mix to a local broker: its
/// share of a core, capture helper included.
inline constexpr Budget kBridgeCpuBudget{Budget::Bound::AtMost, 15, "%"};
/// Raw datagrams lost between the bridge and a local subscriber at 50,000/s over 30 s.
inline constexpr Budget kBridgeRawLossBudget{Budget::Bound::AtMost, 0, " datagrams"};

}  // namespace qvlink::bench
