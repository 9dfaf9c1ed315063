#pragma once

// Thin ownership of SQLite C handles: a connection and its prepared statements.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qvlink {

/// A prepared statement, reset after each run so it can be bound again.
class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    /// Result code of preparing; SQLITE_OK for a usable statement.
    int prepareResult() const { return m_prepareResult; }

    /// Parameters are 1-based as in SQL.
    void bind(int index, std::int64_t value);
    void bind(int index, double value);
    void bind(int index, const std::string& text);
    void bind(int index, const std::optional<std::int64_t>& value);
    void bindNull(int index);

    /// Runs to the next row (SQLITE_ROW), to the end (SQLITE_DONE) or to an error.
    int step();
    /// Runs a statement that returns no rows and resets it; SQLITE_OK or the error.
    int run();
    std::int64_t columnInt(int column) const;
    double columnDouble(int column) const;
    std::string columnText(int column) const;
    bool columnIsNull(int column) const;
    void reset();

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_prepareResult = SQLITE_MISUSE;
};

/// Runs SQL without results (one or more statements); SQLITE_OK or the error.
int sqliteExec(sqlite3* db, const char* sql);

/// The first column of the first row of a query as an integer, or `fallback`.
std::int64_t sqliteQueryInt(sqlite3* db, const char* sql, std::int64_t fallback = -1);

}  // namespace qvlink
