#include "history/history_location.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace qvlink {
namespace {

constexpr const char* kHistoryFile = "/qvlink-monitor/history.sqlite3";

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

}  // namespace

std::string defaultHistoryPath(const char* xdgDataHome, const char* home) {
    if (isAbsolute(xdgDataHome)) {
        return std::string(xdgDataHome) + kHistoryFile;
    }
    if (isAbsolute(home)) {
        return std::string(home) + "/.local/share" + kHistoryFile;
    }
    return {};
}

std::string numberedHistoryPath(const std::string& path, int number) {
    const std::size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) {
        dot = path.size();
    }
    return path.substr(0, dot) + "-" + std::to_string(number) + path.substr(dot);
}

std::string replayHistoryPath(const std::string& livePath, const std::string& captureName) {
    return std::filesystem::path(livePath).replace_filename("replay-" + captureName + ".sqlite3");
}

bool removeUnclaimedHistory(const std::string& path) {
    HistoryFileLock lock;
    if (!lock.tryClaim(path)) {
        return false;
    }
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix, ignored);
    }
    return true;
}

std::string asidePath(const std::string& path, std::int64_t timeUs) {
    const time_t seconds = static_cast<time_t>(timeUs / 1'000'000);
    tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return path + ".corrupt-" + stamp;
}

bool moveDatabaseAside(const std::string& path, const std::string& aside) {
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        return false;
    }
    std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    return true;
}

bool createParentFolders(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) {
        return true;
    }
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    return std::filesystem::is_directory(parent, error);
}

HistoryFileLock::~HistoryFileLock() {
    release();
}

bool HistoryFileLock::tryClaim(const std::string& path) {
    release();
    const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void HistoryFileLock::release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace qvlink
