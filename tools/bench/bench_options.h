#pragma once

// The benchmark's command line.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace qvlink::bench {

/// Offered rate that asks the simulator for as much as it can send.
inline constexpr std::uint64_t kMaxRate = 100'000'000;

struct BenchOptions {
    std::string simPath;
    std::string monitorPath;
    std::string selfPath;
    std::string dumpPath;
    /// Datagrams of the replayed capture.
    long replayDatagrams = 1'000'000;
    std::vector<std::uint64_t> rates{1'000, 10'000, 50'000, 100'000, 200'000, 300'000, kMaxRate};
    double stepSeconds = 4.0;
    double idleSeconds = 10.0;
    double recordSeconds = 30.0;
    double floodSeconds = 60.0;
    std::uint64_t burstRate = 50'000;
    double blockSeconds = 3.0;
    int ticks = 200;
    int startupRuns = 5;
    /// Phases left out: startup, pipeline, steps, idle, burst, ticks, devices, flood, trend,
    /// replay, bridge.
    std::set<std::string> skipped;

    bool runs(const std::string& phase) const { return !skipped.contains(phase); }
};

enum class ParseOutcome { Run, Help, Error };

/// Reads the arguments after the program name; `error` says what is wrong on Error.
ParseOutcome parseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                               std::string& error);
std::string benchHelpText();

}  // namespace qvlink::bench
