#pragma once

// Temporary folders and read-back of history files for the history tests.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace qvlink::test {

/// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// A read-only connection to a history file for checking what was written.
class HistoryFileReader {
public:
    explicit HistoryFileReader(const std::string& path);
    ~HistoryFileReader();
    HistoryFileReader(const HistoryFileReader&) = delete;
    HistoryFileReader& operator=(const HistoryFileReader&) = delete;

    /// First column of the first row as an integer; -1 when the query yields nothing.
    std::int64_t integer(const std::string& sql) const;
    /// First column of the first row as text; empty when the query yields nothing.
    std::string text(const std::string& sql) const;

private:
    sqlite3* m_db = nullptr;
};

}  // namespace qvlink::test
