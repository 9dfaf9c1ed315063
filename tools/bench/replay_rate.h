#pragma once

// Replay of a capture of the simulator's load mix, as fast as possible with the trace window
// open, beside qvlink-dump -r decoding the same file; and the seek that rebuilds the state of
// almost the whole capture.

#include <string>

namespace qvlink::bench {

/// Wall and CPU seconds of one piece of work.
struct Span {
    double wall = 0.0;
    double cpu = 0.0;
};

/// Rates and times are judged on CPU time: on a shared machine the wall time mostly
/// measures the others.
struct ReplayRates {
    long datagrams = 0;
    double fileMiB = 0.0;
    Span load;    ///< reading the capture into memory
    Span replay;  ///< the replay itself, in the event loop
    Span dump;    ///< qvlink-dump -r to /dev/null; negative wall when it failed
    Span seek;    ///< from the end back to its last second
    /// Datagrams per CPU second, the capture's loading included.
    double replayRate() const { return datagrams / (load.cpu + replay.cpu); }
    double dumpRate() const { return dump.wall > 0 ? datagrams / dump.cpu : 0.0; }
};

/// Writes a capture of `datagrams` datagrams of the load mix (one a millisecond) into
/// `folder`, and measures it.
ReplayRates measureReplay(const std::string& dumpPath, const std::string& folder, long datagrams);

}  // namespace qvlink::bench
