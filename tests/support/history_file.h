#pragma once

// A history file in a scratch folder with the recorder's tables, and rows written straight
// into them, for the readers' tests.

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

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
        if (sqlite3_open(m_path.c_str(), &m_db) != SQLITE_OK) {
            throw std::runtime_error("cannot create " + m_path);
        }
        exec(
            "PRAGMA journal_mode=WAL;"
            "CREATE TABLE ts_change(point INTEGER NOT NULL, rx_us INTEGER NOT NULL, tag_us "
            "INTEGER, mac TEXT NOT NULL, state INTEGER NOT NULL, flags INTEGER NOT NULL);"
            "CREATE INDEX ts_change_point ON ts_change(point, rx_us);"
            "CREATE TABLE ti_second(point INTEGER NOT NULL, second INTEGER NOT NULL, last REAL "
            "NOT NULL, min REAL NOT NULL, max REAL NOT NULL, count INTEGER NOT NULL, mac TEXT "
            "NOT NULL, PRIMARY KEY(point, second));"
            "CREATE TABLE device_event(time_us INTEGER NOT NULL, mac TEXT NOT NULL, kind TEXT "
            "NOT NULL, count INTEGER NOT NULL, ip TEXT, previous_ip TEXT);"
            "CREATE INDEX device_event_mac ON device_event(mac, time_us);"
            "CREATE TABLE recording(start_us INTEGER NOT NULL, stop_us INTEGER NOT NULL);"
            "CREATE TABLE recording_loss(time_us INTEGER NOT NULL, lost_ts INTEGER NOT NULL, "
            "lost_events INTEGER NOT NULL);");
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
