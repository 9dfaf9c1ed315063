#pragma once

// A program run by a test or a tool: its standard output and error go to anonymous files, so
// a chatty child never blocks on a full pipe, and are read while it runs or once it has ended.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_fd.h"

namespace qvlink {

class ChildProcess {
public:
    /// Runs in the child between fork and exec; only async-signal-safe calls belong here. False
    /// ends the child with status 126.
    using ChildSetup = std::function<bool()>;
    /// Looks at standard output and error so far.
    using OutputCondition = std::function<bool(const std::string& out, const std::string& err)>;

    /// Starts `argv[0]` (a path, or a name looked up in PATH) with the caller's environment plus
    /// `environment` ("NAME=value", replacing a variable of the same name). Throws
    /// std::runtime_error when it cannot be started; a program that cannot be run ends with
    /// status 127.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {}, ChildSetup setup = {});
    /// Kills a child that is still running and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    /// Readable once the child has ended (a pidfd), for an event loop to wait on.
    int exitFd() const { return m_exitFd.get(); }
    /// True once the child has ended; reaps it.
    bool finished();
    void signal(int number) const;
    /// Waits until `done` holds for the output, or `timeout` passes; returns whether it held.
    bool waitFor(const OutputCondition& done, std::chrono::milliseconds timeout);
    /// Waits for the end: the exit status, 128 + the signal that killed it, or -1 when it did
    /// not end within `timeout`.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

    /// Everything written to standard output and error so far.
    const std::string& out();
    const std::string& err();
    /// User and system CPU time of the child, once it has been reaped.
    double cpuSeconds() const { return m_cpuSeconds; }

private:
    /// Reaps the child if it has ended, waiting for it as `options` of wait4 say.
    bool reap(int options);
    /// Waits up to `timeout` for the child to end.
    void waitForExit(std::chrono::milliseconds timeout) const;

    struct Capture {
        UniqueFd file;
        std::string text;
        const std::string& collect();
    };

    pid_t m_pid = -1;
    UniqueFd m_exitFd;
    Capture m_out;
    Capture m_err;
    bool m_reaped = false;
    int m_status = -1;
    double m_cpuSeconds = 0.0;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

}  // namespace qvlink
