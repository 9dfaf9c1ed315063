#include "capture_file/file_ring.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "capture_file/write_error.h"

namespace qvlink {

FileRing::FileRing(std::string path, RotationLimits limits)
    : m_path(std::move(path)), m_limits(limits) {}

std::string FileRing::memberPath(int index) const {
    return index == 0 ? m_path : m_path + "." + std::to_string(index);
}

bool FileRing::wouldOverflow(std::uint64_t bytes) const {
    return m_limits.maxBytes != 0 && m_hasRecords && m_written + bytes > m_limits.maxBytes;
}

void FileRing::shift() {
    for (int index = m_limits.maxFiles - 1; index >= 1; --index) {
        const std::string from = memberPath(index - 1);
        const std::string to = memberPath(index);
        // A ring that has not filled up yet lacks the older members.
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) {
            throw WriteError("cannot rotate " + from + " to " + to + ": " + std::strerror(errno));
        }
    }
    m_written = 0;
    m_hasRecords = false;
}

}  // namespace qvlink
