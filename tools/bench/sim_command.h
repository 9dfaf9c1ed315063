#pragma once

// How the benchmark talks to the simulator: the command line of its load mode and the count
// it prints when it ends.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvlink::bench {

struct SimLoad {
    std::string simPath;
    int port = 0;
    std::uint64_t rate = 0;  ///< datagrams per second asked for
    double seconds = 0.0;
    int devices = 29;
};

/// The simulator's own count of what it sent.
struct SimSummary {
    std::uint64_t sent = 0;
    double rate = 0.0;        ///< datagrams per second it achieved
    double cpuSeconds = 0.0;  ///< the simulator's own CPU time
};

/// Command-line arguments of the simulator for `load`. The devices send from addresses and
/// listen on a TCP port of their own, away from the simulator's defaults that tests use.
std::vector<std::string> simArguments(const SimLoad& load);

/// The load line of the simulator's summary; nothing when the output has none.
std::optional<SimSummary> parseSimSummary(const std::string& output);

}  // namespace qvlink::bench
