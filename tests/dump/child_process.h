#pragma once

// Runs a program with its standard output and error captured, for tests of command-line
// tools.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qvlink::test {

class ChildProcess {
public:
    /// Starts `argv[0]` (a path, or a name looked up in PATH) with the test's environment plus
    /// `environment` ("NAME=value", replacing a variable of the same name).
    ChildProcess(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Collects output until `done(out, err)` holds or `timeout` passes; returns whether
    /// it held.
    bool waitFor(const std::function<bool(const std::string&, const std::string&)>& done,
                 std::chrono::milliseconds timeout);
    void signal(int signalNumber);
    /// Collects output until the program ends; its exit status, or -1 when it did not end
    /// within `timeout` or died of a signal.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

    const std::string& out() const { return m_out; }
    const std::string& err() const { return m_err; }

private:
    /// Reads what is available within `timeout`; false when both pipes are closed.
    bool pump(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

}  // namespace qvlink::test
