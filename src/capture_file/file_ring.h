#pragma once

// Size-bounded output files kept as a ring: FILE is the newest, FILE.1 the one before it,
// up to FILE.<N-1>; the oldest falls away when a new FILE starts.

#include <cstdint>
#include <string>

namespace qvlink {

struct RotationLimits {
    std::uint64_t maxBytes = 0;  ///< 0: one file that grows without bound
    int maxFiles = 1;            ///< FILE plus maxFiles - 1 older ones
};

class FileRing {
public:
    FileRing(std::string path, RotationLimits limits);

    /// The file being written: always the path given.
    const std::string& path() const { return m_path; }
    /// Path of ring member `index` (0 is the current file).
    std::string memberPath(int index) const;

    /// True when a record of `bytes` would push the current file past the size limit. A
    /// file holds at least one record, so one larger than the limit gets a file of its own.
    bool wouldOverflow(std::uint64_t bytes) const;
    /// Counts the file header written at the start of every file of the ring.
    void accountHeader(std::uint64_t bytes) { m_written += bytes; }
    /// Counts one record written to the current file.
    void accountRecord(std::uint64_t bytes) {
        m_written += bytes;
        m_hasRecords = true;
    }

    /// Renames FILE.<k> to FILE.<k+1> from the oldest down and FILE to FILE.1; the caller
    /// has closed FILE and opens it anew. Throws WriteError when a rename fails.
    void shift();

private:
    std::string m_path;
    RotationLimits m_limits;
    std::uint64_t m_written = 0;
    bool m_hasRecords = false;
};

}  // namespace qvlink
