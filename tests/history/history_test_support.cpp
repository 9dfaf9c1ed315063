#include "history_test_support.h"

#include <unistd.h>

#include <stdexcept>

#include "history/sqlite_statement.h"

namespace qvlink::test {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvlink-history-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

HistoryFileReader::HistoryFileReader(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr);
}

HistoryFileReader::~HistoryFileReader() {
    sqlite3_close(m_db);
}

std::int64_t HistoryFileReader::integer(const std::string& sql) const {
    return sqliteQueryInt(m_db, sql.c_str(), -1);
}

std::string HistoryFileReader::text(const std::string& sql) const {
    SqliteStatement query(m_db, sql.c_str());
    return query.step() == SQLITE_ROW ? query.columnText(0) : std::string();
}

}  // namespace qvlink::test
