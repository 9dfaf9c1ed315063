#include "process_stats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace qvlink::bench {
namespace {

std::int64_t clockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t toNs(const timeval& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 +
           static_cast<std::int64_t>(time.tv_usec) * 1000;
}

}  // namespace

std::int64_t monotonicNs() {
    return clockNs(CLOCK_MONOTONIC);
}

std::int64_t processCpuNs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return toNs(usage.ru_utime) + toNs(usage.ru_stime);
}

std::int64_t processContextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

std::int64_t threadCpuNs() {
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

std::uint64_t residentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return 0;
    }
    unsigned long long size = 0;
    unsigned long long resident = 0;
    const int read = std::fscanf(statm, "%llu %llu", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

CpuSpan::CpuSpan()
    : m_cpuStart(processCpuNs()),
      m_wallStart(monotonicNs()),
      m_switchesStart(processContextSwitches()) {}

void CpuSpan::stop() {
    m_cpuNs = processCpuNs() - m_cpuStart;
    m_wallNs = monotonicNs() - m_wallStart;
    m_switches = processContextSwitches() - m_switchesStart;
}

double CpuSpan::coreShare() const {
    return m_wallNs > 0 ? static_cast<double>(m_cpuNs) / static_cast<double>(m_wallNs) : 0.0;
}

}  // namespace qvlink::bench
