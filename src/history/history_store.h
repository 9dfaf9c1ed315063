#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "history/history_records.h"
#include "history/sqlite_statement.h"

namespace qvlink {

/// How much history is kept: rows older than `days`, and the oldest rows while the data
/// outgrows `maxBytes`, are pruned.
struct RetentionLimits {
    int days = 7;
    std::int64_t maxBytes = std::int64_t{1} << 30;
};

/// Outcome of a store operation, by what the caller has to do about it.
enum class StoreStatus {
    Ok,
    Busy,      ///< another connection holds the write lock: try again later
    Full,      ///< the disk (or the file's size limit) is full: pause, try again later
    Unusable,  ///< not a database, damaged or unopenable: move it aside and start afresh
    Failed,    ///< any other error (permissions, I/O)
};

/// The history database on one connection, used by one thread (the recorder's writer).
/// Times are microseconds since 1970 UTC; TI seconds are unix seconds.
class HistoryStore {
public:
    HistoryStore() = default;
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    /// Opens or creates the file in WAL mode with its tables and starts a recording span at
    /// `nowUs`. `vfs` is SQLite's name of the file layer to use; empty for the default.
    StoreStatus open(const std::string& path, std::int64_t nowUs, const std::string& vfs = {});
    void close();
    bool isOpen() const { return m_db != nullptr; }

    /// Writes the whole batch, a loss row when it counts drops, and advances the recording
    /// span to `nowUs`, in one transaction: all of it or, on failure, nothing.
    StoreStatus write(const RecordBatch& batch, std::int64_t nowUs);

    /// Deletes one small step of the oldest rows that are past `limits` at `nowUs` and hands
    /// the freed pages back to the file system. `more` tells whether another step is due.
    StoreStatus pruneStep(const RetentionLimits& limits, std::int64_t nowUs, bool& more);

    /// Bytes the rows take (the file's pages less its free ones).
    std::int64_t dataBytes() const;
    /// SQLite's text of the latest error.
    std::string lastError() const;

    /// Rows each prune step deletes at most, per table.
    static constexpr int kPruneStepRows = 2000;

private:
    StoreStatus statusOf(int result) const;
    StoreStatus createSchema();
    StoreStatus prepareStatements();
    void insertBatchRows(const RecordBatch& batch, int& result);
    StoreStatus deleteOldest(const char* sql, bool overBudget, std::int64_t cutoff, bool& more);

    sqlite3* m_db = nullptr;
    std::int64_t m_recordingId = 0;
    SqliteStatement m_insertTs;
    SqliteStatement m_upsertTi;
    SqliteStatement m_insertEvent;
    SqliteStatement m_insertLoss;
    SqliteStatement m_advanceRecording;
};

}  // namespace qvlink
