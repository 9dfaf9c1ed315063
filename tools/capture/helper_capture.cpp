#include "capture/helper_capture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "capture/helper_report.h"

extern char** environ;

namespace qvlink::capture {

namespace {

constexpr std::size_t kReadChunk = 1 << 16;
constexpr const char* kHelperName = "qvlink-capture";

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

/// Waits for the end of the child; its wait status.
int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string startFailure(const std::string& helper, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "permission denied: live capture is for root and the members of group "
                   "qvlink, who may run " +
                   helper + ": sudo usermod -aG qvlink $USER, then log in again";
        case ENOENT:
            return "the capture helper " + helper + " is missing";
        default:
            return "cannot start the capture helper " + helper + ": " + std::strerror(error);
    }
}

std::string endText(const std::string& helper, int status) {
    if (WIFSIGNALED(status)) {
        return "the capture helper " + helper + " was killed by signal " +
               std::to_string(WTERMSIG(status));
    }
    return "the capture helper " + helper + " ended with status " +
           std::to_string(WEXITSTATUS(status)) + " before its capture was whole";
}

/// Standard input from /dev/null, output and errors into the pipes; the signals that end the
/// helper act as they should even when this program ignores or blocks them.
class SpawnSetup {
public:
    SpawnSetup(int outFd, int errFd) {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&m_actions, outFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&m_actions, errFd, STDERR_FILENO);
        posix_spawnattr_init(&m_attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int number : {SIGINT, SIGTERM, SIGPIPE}) {
            sigaddset(&defaults, number);
        }
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&m_attributes);
        posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

}  // namespace

std::string captureHelperPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return (program.parent_path() / QVLINK_HELPER_FROM_PROGRAMS / kHelperName)
        .lexically_normal()
        .string();
}

HelperCapture::HelperCapture(const std::string& helper, const std::string& interface,
                             std::uint16_t port, CaptureFilter filter)
    : m_helper(helper), m_buffer(kReadChunk) {
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    if (pipe2(out.data(), O_CLOEXEC) != 0) {
        throw CaptureError(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    if (pipe2(err.data(), O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(out[0]);
        ::close(out[1]);
        throw CaptureError(std::string("cannot create a pipe: ") + std::strerror(error));
    }
    std::vector<std::string> arguments{
        helper, "-i", interface, "-p", std::to_string(port), "-f", filterName(filter)};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    const SpawnSetup setup(out[1], err[1]);
    const int spawned = posix_spawn(&m_pid, helper.c_str(), setup.actions(), setup.attributes(),
                                    argv.data(), environ);
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (spawned != 0) {
        abandon();
        throw CaptureError(startFailure(helper, spawned));
    }
    // Signals go through a pidfd, which never reaches another process that reuses the pid.
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (m_pidFd < 0) {
        const int error = errno;
        ::kill(m_pid, SIGKILL);
        reap(m_pid);
        abandon();
        throw CaptureError(std::string("cannot watch the capture helper: ") + std::strerror(error));
    }
}

HelperCapture::~HelperCapture() {
    if (m_pid > 0) {
        closeFd(m_outFd);  // a helper blocked on a full pipe sees it closed
        stop();
        closeFd(m_errFd);
        reap(m_pid);
    }
    closeFd(m_pidFd);
}

void HelperCapture::abandon() {
    m_pid = -1;
    closeFd(m_outFd);
    closeFd(m_errFd);
}

bool HelperCapture::awaitStart() {
    const FrameHandler noFrames = [](const pcap_pkthdr&, const std::uint8_t*) {};
    while (!m_stream.hasHeader()) {
        if (!read(noFrames)) {
            return false;
        }
    }
    return true;
}

void HelperCapture::setNonBlocking() {
    ::fcntl(m_outFd, F_SETFL, ::fcntl(m_outFd, F_GETFL) | O_NONBLOCK);
}

bool HelperCapture::read(const FrameHandler& handler) {
    if (m_outFd < 0) {
        return false;
    }
    const ssize_t size = ::read(m_outFd, m_buffer.data(), m_buffer.size());
    if (size < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return true;
        }
        throw CaptureError(std::string("cannot read the capture: ") + std::strerror(errno));
    }
    if (size == 0) {
        finish();
        return false;
    }
    if (!m_stream.feed(m_buffer.data(), static_cast<std::size_t>(size), handler)) {
        stop();  // what follows is unreadable too; the stream ends without a further failure
        throw CaptureError("the capture helper " + m_helper +
                           " sent no pcap stream: " + m_stream.error());
    }
    return true;
}

void HelperCapture::stop() noexcept {
    m_stopRequested.store(true);
    if (m_pidFd >= 0) {
        ::syscall(SYS_pidfd_send_signal, m_pidFd, SIGTERM, nullptr, 0);
    }
}

void HelperCapture::finish() {
    std::string message = helperMessage();
    m_kernelDrops = takeKernelDrops(message);
    closeFd(m_outFd);
    const int status = reap(m_pid);
    m_pid = -1;
    if (m_stopRequested.load()) {
        return;
    }
    if (!message.empty()) {
        throw CaptureError(message);
    }
    const bool whole = m_stream.hasHeader() && m_stream.pendingBytes() == 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !whole) {
        throw CaptureError(endText(m_helper, status));
    }
}

/// What the helper wrote to its standard error, read once it has closed it by ending.
std::string HelperCapture::helperMessage() {
    std::string text;
    std::array<char, 1024> chunk{};
    ssize_t size = 0;
    while ((size = ::read(m_errFd, chunk.data(), chunk.size())) != 0) {
        if (size < 0 && errno != EINTR) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    }
    closeFd(m_errFd);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace qvlink::capture
