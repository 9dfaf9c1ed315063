#include "process/child_process.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qvlink {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    const auto nameOf = [](const std::string& variable) {
        return variable.substr(0, variable.find('='));
    };
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        const bool replaced =
            std::any_of(overrides.begin(), overrides.end(),
                        [&](const std::string& o) { return nameOf(o) == nameOf(variable); });
        if (!replaced) {
            merged.push_back(variable);
        }
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

UniqueFd anonymousFile(const char* name) {
    UniqueFd file(memfd_create(name, MFD_CLOEXEC));
    if (!file) {
        throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));
    }
    return file;
}

double cpuSecondsOf(const rusage& usage) {
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, ChildSetup setup)
    : m_out{anonymousFile("child-out"), {}}, m_err{anonymousFile("child-err"), {}} {
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = mergedEnvironment(environment);
    const std::vector<char*> argumentPointers = pointers(arguments);
    const std::vector<char*> variablePointers = pointers(variables);
    m_pid = fork();
    if (m_pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (m_pid == 0) {
        dup2(m_out.file.get(), STDOUT_FILENO);
        dup2(m_err.file.get(), STDERR_FILENO);
        if (setup && !setup()) {
            _exit(126);
        }
        execvpe(argumentPointers[0], argumentPointers.data(), variablePointers.data());
        _exit(127);
    }
    m_exitFd.reset(static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0)));
}

ChildProcess::~ChildProcess() {
    if (!finished()) {
        signal(SIGKILL);
        reap(0);
    }
}

bool ChildProcess::finished() {
    return reap(WNOHANG);
}

bool ChildProcess::reap(int options) {
    while (!m_reaped) {
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(m_pid, &status, options, &usage);
        if (done == m_pid) {
            m_reaped = true;
            m_status = decodeStatus(status);
            m_cpuSeconds = cpuSecondsOf(usage);
        } else if (done == 0 || errno != EINTR) {
            break;
        }
    }
    return m_reaped;
}

void ChildProcess::signal(int number) const {
    if (!m_reaped) {
        kill(m_pid, number);
    }
}

void ChildProcess::waitForExit(std::chrono::milliseconds timeout) const {
    pollfd ended{m_exitFd.get(), POLLIN, 0};
    poll(&ended, 1, static_cast<int>(std::max<long long>(timeout.count(), 0)));
}

bool ChildProcess::waitFor(const OutputCondition& done, std::chrono::milliseconds timeout) {
    // Output files give no readiness, so they are looked at again at this interval.
    constexpr std::chrono::milliseconds kLookAgain{10};
    const auto deadline = Clock::now() + timeout;
    while (!done(out(), err())) {
        if (Clock::now() >= deadline) {
            return false;
        }
        if (finished()) {
            return done(out(), err());
        }
        waitForExit(kLookAgain);
    }
    return true;
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    waitForExit(timeout);
    return finished() ? m_status : -1;
}

const std::string& ChildProcess::out() {
    return m_out.collect();
}

const std::string& ChildProcess::err() {
    return m_err.collect();
}

const std::string& ChildProcess::Capture::collect() {
    char chunk[65536];
    for (;;) {
        const ssize_t got = pread(file.get(), chunk, sizeof chunk, static_cast<off_t>(text.size()));
        if (got <= 0) {
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    ChildProcess child(argv, environment);
    ProcessResult result;
    result.exitCode = child.wait();
    result.out = child.out();
    result.err = child.err();
    return result;
}

}  // namespace qvlink
