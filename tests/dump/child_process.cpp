#include "dump/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <stdexcept>

extern char** environ;

namespace qvlink::test {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        const std::string name = variable.substr(0, variable.find('='));
        bool replaced = false;
        for (const std::string& o : overrides) {
            replaced = replaced || o.substr(0, o.find('=')) == name;
        }
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

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = mergedEnvironment(environment);
    const int status = posix_spawnp(&m_pid, arguments[0].c_str(), &actions, nullptr,
                                    pointers(arguments).data(), pointers(variables).data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    m_outFd = outPipe[0];
    m_errFd = errPipe[0];
    if (status != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0) {
        close(m_outFd);
    }
    if (m_errFd >= 0) {
        close(m_errFd);
    }
}

bool ChildProcess::pump(std::chrono::milliseconds timeout) {
    std::array<pollfd, 2> fds{{{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}}};
    if (m_outFd < 0 && m_errFd < 0) {
        return false;
    }
    if (poll(fds.data(), fds.size(), static_cast<int>(timeout.count())) <= 0) {
        return true;
    }
    std::array<int*, 2> fdRefs{&m_outFd, &m_errFd};
    std::array<std::string*, 2> sinks{&m_out, &m_err};
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
        if (count > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(count));
        } else {
            close(*fdRefs[i]);
            *fdRefs[i] = -1;
        }
    }
    return true;
}

bool ChildProcess::waitFor(const std::function<bool(const std::string&, const std::string&)>& done,
                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(m_out, m_err)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !pump(std::min(left, std::chrono::milliseconds(100)))) {
            return done(m_out, m_err);
        }
    }
    return true;
}

void ChildProcess::signal(int signalNumber) {
    kill(m_pid, signalNumber);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pump(std::chrono::milliseconds(100))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace qvlink::test
