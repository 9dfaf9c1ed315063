#include "child_process.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qvlink::bench {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
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

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment, ChildSetup setup) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.emplace_back(*entry);
    }
    envp.insert(envp.end(), environment.begin(), environment.end());
    std::vector<char*> argPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(envp);

    m_outputFd = memfd_create("qvlink-bench-child", MFD_CLOEXEC);
    if (m_outputFd < 0) {
        throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));
    }
    m_pid = fork();
    if (m_pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (m_pid == 0) {
        dup2(m_outputFd, STDOUT_FILENO);
        dup2(m_outputFd, STDERR_FILENO);
        if (setup && !setup()) {
            _exit(126);
        }
        execve(argPointers[0], argPointers.data(), envPointers.data());
        _exit(127);
    }
    m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
}

ChildProcess::~ChildProcess() {
    if (!finished()) {
        signal(SIGKILL);
        wait();
    }
    if (m_pidFd >= 0) {
        close(m_pidFd);
    }
    close(m_outputFd);
}

bool ChildProcess::finished() {
    if (m_reaped) {
        return true;
    }
    int status = 0;
    rusage usage{};
    if (wait4(m_pid, &status, WNOHANG, &usage) == m_pid) {
        m_reaped = true;
        m_status = decodeStatus(status);
        m_cpuSeconds = cpuSecondsOf(usage);
    }
    return m_reaped;
}

int ChildProcess::wait() {
    while (!m_reaped) {
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(m_pid, &status, 0, &usage);
        if (done == m_pid) {
            m_reaped = true;
            m_status = decodeStatus(status);
            m_cpuSeconds = cpuSecondsOf(usage);
        } else if (done < 0 && errno != EINTR) {
            break;
        }
    }
    return m_status;
}

void ChildProcess::signal(int number) const {
    if (!m_reaped) {
        kill(m_pid, number);
    }
}

std::string ChildProcess::output() const {
    std::string text;
    char chunk[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t got = pread(m_outputFd, chunk, sizeof chunk, at);
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        at += got;
    }
    return text;
}

}  // namespace qvlink::bench
