#pragma once

// What the benchmark reads about its own process: CPU time and resident memory.

#include <cstdint>

namespace qvlink::bench {

/// Monotonic time in nanoseconds, comparable between processes of the same machine.
std::int64_t monotonicNs();
/// User plus system CPU time of the whole process (all threads), in nanoseconds.
std::int64_t processCpuNs();
/// Context switches of the whole process so far, voluntary (waits) and forced.
std::int64_t processContextSwitches();
/// CPU time of the calling thread, in nanoseconds.
std::int64_t threadCpuNs();
/// Resident set size of the process, in bytes.
std::uint64_t residentBytes();

/// CPU and wall time between construction and the last `stop`.
class CpuSpan {
public:
    CpuSpan();
    void stop();
    double cpuSeconds() const { return static_cast<double>(m_cpuNs) * 1e-9; }
    std::int64_t contextSwitches() const { return m_switches; }
    /// CPU time as a share of one core over the span.
    double coreShare() const;

private:
    std::int64_t m_cpuStart;
    std::int64_t m_wallStart;
    std::int64_t m_switchesStart;
    std::int64_t m_switches = 0;
    std::int64_t m_cpuNs = 0;
    std::int64_t m_wallNs = 0;
};

}  // namespace qvlink::bench
