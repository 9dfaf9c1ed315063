#pragma once

#include <cstdint>
#include <string>

namespace qvlink {

/// `$XDG_DATA_HOME/qvlink-monitor/history.sqlite3`, or under `$HOME/.local/share` when
/// XDG_DATA_HOME is unset or not absolute; empty when neither gives a place.
std::string defaultHistoryPath(const char* xdgDataHome, const char* home);

/// The file a further monitor uses beside `path`: "history.sqlite3", 2 ->
/// "history-2.sqlite3" (the number goes before the extension, or at the end).
std::string numberedHistoryPath(const std::string& path, int number);

/// The history file of a replay of `captureName` beside the live history file `livePath`:
/// "replay-<captureName>.sqlite3" in the same folder, so that replays never mix with the
/// live bus.
std::string replayHistoryPath(const std::string& livePath, const std::string& captureName);

/// Removes the history file `path` with its log and index, unless a monitor holds it; false
/// when it cannot be claimed (a monitor holds it). A replay starts its own history afresh.
bool removeUnclaimedHistory(const std::string& path);

/// Where a file that could not be used is moved: "<path>.corrupt-YYYYMMDD-HHMMSS" in local
/// time of `timeUs` (microseconds since 1970 UTC).
std::string asidePath(const std::string& path, std::int64_t timeUs);

/// Moves the database and its write-ahead log aside to `aside` (the log to "<aside>-wal");
/// the shared-memory index is rebuilt from them and is removed. False when the database
/// could not be moved.
bool moveDatabaseAside(const std::string& path, const std::string& aside);

/// Creates the folder that holds `path` and its parents; false when that fails.
bool createParentFolders(const std::string& path);

/// One monitor's claim on a history file, held in "<path>.lock" until destroyed. The system
/// releases it when the process ends in any way, kill -9 included.
class HistoryFileLock {
public:
    HistoryFileLock() = default;
    ~HistoryFileLock();
    HistoryFileLock(const HistoryFileLock&) = delete;
    HistoryFileLock& operator=(const HistoryFileLock&) = delete;

    /// Claims `path` unless another process holds it; releases any earlier claim first.
    bool tryClaim(const std::string& path);
    void release();

private:
    int m_fd = -1;
};

}  // namespace qvlink
