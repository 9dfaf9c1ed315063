#include "common/file_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qvlink {
namespace {

/// Writes all of `bytes`, retrying short writes; throws the system's message on failure.
void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error(std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

/// Owns a file descriptor; closing it on destruction when an exception leaves early.
class FileHandle {
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }
    /// Closes the file, reporting a failure that surfaces only now (a deferred write error).
    void close() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            throw std::runtime_error(std::strerror(errno));
        }
    }

private:
    int m_fd;
};

}  // namespace

void saveFileBytes(const std::string& path, std::string_view bytes) {
    FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.fd() < 0) {
        throw std::runtime_error("Cannot Create file " + path);
    }
    writeAll(file.fd(), bytes);
    file.close();
}

}  // namespace qvlink
