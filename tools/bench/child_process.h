#pragma once

// A child program run by the benchmark: its standard output and error go to an anonymous
// file that is read once it has ended, so a chatty child can never block on a full pipe.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace qvlink::bench {

class ChildProcess {
public:
    /// Runs in the child between fork and exec; only async-signal-safe calls belong here.
    using ChildSetup = std::function<bool()>;

    /// Starts `program` with `args`; `environment` entries ("NAME=value") are added to the
    /// benchmark's own. Throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {}, ChildSetup setup = {});
    /// Kills a child that is still running and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    /// Readable once the child has ended (a pidfd), for an event loop to wait on.
    int exitFd() const { return m_pidFd; }
    /// True once the child has ended; reaps it.
    bool finished();
    /// Waits for the end; returns the exit status (128 + signal when killed).
    int wait();
    void signal(int number) const;
    /// Everything the child has written so far.
    std::string output() const;
    /// User and system CPU time of the child, once it has been reaped.
    double cpuSeconds() const { return m_cpuSeconds; }

private:
    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_outputFd = -1;
    bool m_reaped = false;
    int m_status = 0;
    double m_cpuSeconds = 0.0;
};

}  // namespace qvlink::bench
