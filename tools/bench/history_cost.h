#pragma once

// What recording the history costs the monitor: the GUI thread's share of each datagram,
// the longest single handling while the writer commits, and the file's size per TI row.

#include <string>

#include "monitor_under_test.h"

namespace qvlink::bench {

struct HandlingDelays {
    double addedUs = 0.0;         ///< CPU per datagram recording adds on the GUI thread (least)
    double longestMs = 0.0;       ///< longest single handling of a datagram, recording on
    double plainLongestMs = 0.0;  ///< the same without recording
};

/// Hands the simulator's mix straight to the handlers of `recording` and `plain`: the least
/// CPU per datagram over several rounds, then `seconds` at 1,000 datagrams/s paced as on the
/// bus, timing every call while the writer commits beside it.
HandlingDelays measureHandlingDelays(MonitorUnderTest& recording, MonitorUnderTest& plain,
                                     double seconds);

/// Bytes of the history file per million TI rows (500 points, one row a second each), written
/// in one-second commits as the recorder does, into `folder`.
double historyBytesPerMillionTiRows(const std::string& folder);

}  // namespace qvlink::bench
