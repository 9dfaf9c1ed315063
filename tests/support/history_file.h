#pragma once

// A history file in a scratch folder with the recorder's tables, and rows written straight
// into them, for the readers' tests.

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "history/history_store.h"

namespace qvlink::test {

class HistoryFile {
public:
    HistoryFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvlink-history-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder");
        }
        m_folder = pattern;
        m_path = m_folder + "/history.sqlite3";
        HistoryStore store;  // the recorder's own tables
        if (store.open(m_path, 0) != StoreStatus::Ok) {
            throw std::runtime_error("cannot create " + m_path);
        }
        store.close();
        if (sqlite3_open(m_path.c_str(), &m_db) != SQLITE_OK) {
            throw std::runtime_error("cannot create " + m_path);
        }
        // Emptied of the run the store's opening began: each test writes its own runs.
        exec("DELETE FROM recording");
    }
    ~HistoryFile() {
        sqlite3_close(m_db);
        std::filesystem::remove_all(m_folder);
    }
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    const std::string& path() const { return m_path; }

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error != nullptr ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error(message + " in " + sql);
        }
    }
    void begin() { exec("BEGIN"); }
    void commit() { exec("COMMIT"); }

    void ti(int point, std::int64_t second, double last, double min, double max,
            const std::string& mac = "00-00-00-00-00-01") {
        exec("INSERT INTO ti_second VALUES(" + std::to_string(point) + "," +
             std::to_string(second) + "," + number(last) + "," + number(min) + "," + number(max) +
             ",1,'" + mac + "')");
    }
    void ts(int point, std::int64_t rxUs, int flags, const std::string& mac = "00-00-00-00-00-01") {
        exec("INSERT INTO ts_change VALUES(" + std::to_string(point) + "," + std::to_string(rxUs) +
             ",NULL,'" + mac + "'," + std::to_string(flags & 3) + "," + std::to_string(flags) +
             ")");
    }
    void event(std::int64_t timeUs, const std::string& mac, const std::string& kind,
               int count = 0) {
        exec("INSERT INTO device_event VALUES(" + std::to_string(timeUs) + ",'" + mac + "','" +
             kind + "'," + std::to_string(count) + ",NULL,NULL)");
    }
    void recording(std::int64_t startUs, std::int64_t stopUs) {
        exec("INSERT INTO recording VALUES(" + std::to_string(startUs) + "," +
             std::to_string(stopUs) + ")");
    }

private:
    static std::string number(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", value);
        return text;
    }

    std::string m_folder;
    std::string m_path;
    sqlite3* m_db = nullptr;
};

}  // namespace qvlink::test
