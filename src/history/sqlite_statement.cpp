#include "history/sqlite_statement.h"

#include <utility>

namespace qvlink {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql)
    : m_prepareResult(sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr)) {}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)),
      m_prepareResult(std::exchange(other.m_prepareResult, SQLITE_MISUSE)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_prepareResult = std::exchange(other.m_prepareResult, SQLITE_MISUSE);
    }
    return *this;
}

void SqliteStatement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
}

void SqliteStatement::bind(int index, double value) {
    sqlite3_bind_double(m_statement, index, value);
}

void SqliteStatement::bind(int index, const std::string& text) {
    sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void SqliteStatement::bind(int index, const std::optional<std::int64_t>& value) {
    if (value) {
        bind(index, *value);
    } else {
        bindNull(index);
    }
}

void SqliteStatement::bindNull(int index) {
    sqlite3_bind_null(m_statement, index);
}

int SqliteStatement::step() {
    return m_statement != nullptr ? sqlite3_step(m_statement) : SQLITE_MISUSE;
}

int SqliteStatement::run() {
    const int result = step();
    reset();
    return result == SQLITE_DONE || result == SQLITE_ROW ? SQLITE_OK : result;
}

std::int64_t SqliteStatement::columnInt(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

double SqliteStatement::columnDouble(int column) const {
    return sqlite3_column_double(m_statement, column);
}

std::string SqliteStatement::columnText(int column) const {
    const auto* text = sqlite3_column_text(m_statement, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

bool SqliteStatement::columnIsNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

void SqliteStatement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int sqliteExec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

std::int64_t sqliteQueryInt(sqlite3* db, const char* sql, std::int64_t fallback) {
    SqliteStatement query(db, sql);
    return query.step() == SQLITE_ROW ? query.columnInt(0) : fallback;
}

}  // namespace qvlink
