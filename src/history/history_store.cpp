#include "history/history_store.h"

namespace qvlink {
namespace {

constexpr int kBusyTimeoutMs = 250;
constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
/// Free pages handed back to the file system after each prune step (1 MiB of 4 KiB pages).
constexpr const char* kReleaseFreePages = "PRAGMA incremental_vacuum(256)";

// auto_vacuum only takes effect on a file without tables, so it comes first.
constexpr const char* kSchema = R"sql(
PRAGMA auto_vacuum = INCREMENTAL;
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
CREATE TABLE IF NOT EXISTS ts_change(
    point INTEGER NOT NULL, rx_us INTEGER NOT NULL, tag_us INTEGER, mac TEXT NOT NULL,
    state INTEGER NOT NULL, flags INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS ts_change_point_time ON ts_change(point, rx_us);
CREATE TABLE IF NOT EXISTS ti_second(
    point INTEGER NOT NULL, second INTEGER NOT NULL, last REAL NOT NULL, min REAL NOT NULL,
    max REAL NOT NULL, count INTEGER NOT NULL, mac TEXT NOT NULL, PRIMARY KEY(point, second));
CREATE TABLE IF NOT EXISTS device_event(
    time_us INTEGER NOT NULL, mac TEXT NOT NULL, kind TEXT NOT NULL, count INTEGER NOT NULL,
    ip TEXT, previous_ip TEXT);
CREATE INDEX IF NOT EXISTS device_event_mac_time ON device_event(mac, time_us);
CREATE TABLE IF NOT EXISTS recording(start_us INTEGER NOT NULL, stop_us INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS recording_loss(
    time_us INTEGER NOT NULL, lost_ts INTEGER NOT NULL, lost_events INTEGER NOT NULL);
)sql";

// A second written in two commits (values on both sides of a commit) becomes one row.
constexpr const char* kUpsertTi = R"sql(
INSERT INTO ti_second(point, second, last, min, max, count, mac) VALUES(?, ?, ?, ?, ?, ?, ?)
ON CONFLICT(point, second) DO UPDATE SET
    last = excluded.last, min = min(min, excluded.min), max = max(max, excluded.max),
    count = count + excluded.count, mac = excluded.mac)sql";

// Each prune step looks at the oldest ?3 rows only (rows go in in time order), so a step
// costs the same however large the table is. ?1: delete regardless of age (over the size
// budget), ?2: the age cut-off. Recording spans are tiny and go by age alone.
constexpr const char* kPruneTs =
    "DELETE FROM ts_change WHERE rowid IN (SELECT rowid FROM ts_change ORDER BY rowid "
    "LIMIT ?3) AND (?1 OR rx_us < ?2)";
constexpr const char* kPruneTi =
    "DELETE FROM ti_second WHERE rowid IN (SELECT rowid FROM ti_second ORDER BY rowid "
    "LIMIT ?3) AND (?1 OR second * 1000000 < ?2)";
constexpr const char* kPruneEvents =
    "DELETE FROM device_event WHERE rowid IN (SELECT rowid FROM device_event ORDER BY rowid "
    "LIMIT ?3) AND (?1 OR time_us < ?2)";
constexpr const char* kPruneLosses =
    "DELETE FROM recording_loss WHERE rowid IN (SELECT rowid FROM recording_loss ORDER BY "
    "rowid LIMIT ?3) AND (?1 OR time_us < ?2)";
constexpr const char* kPruneRecordings =
    "DELETE FROM recording WHERE rowid IN (SELECT rowid FROM recording ORDER BY rowid "
    "LIMIT ?3) AND stop_us < ?2";

}  // namespace

HistoryStore::~HistoryStore() {
    close();
}

StoreStatus HistoryStore::open(const std::string& path, std::int64_t nowUs,
                               const std::string& vfs) {
    close();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const int opened =
        sqlite3_open_v2(path.c_str(), &m_db, flags, vfs.empty() ? nullptr : vfs.c_str());
    if (opened != SQLITE_OK) {
        close();
        return statusOf(opened);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    StoreStatus status = createSchema();
    if (status == StoreStatus::Ok) {
        status = prepareStatements();
    }
    if (status == StoreStatus::Ok) {
        SqliteStatement start(m_db, "INSERT INTO recording(start_us, stop_us) VALUES(?, ?)");
        start.bind(1, nowUs);
        start.bind(2, nowUs);
        status = statusOf(start.run());
        m_recordingId = sqlite3_last_insert_rowid(m_db);
    }
    return status;
}

void HistoryStore::close() {
    m_insertTs = {};
    m_upsertTi = {};
    m_insertEvent = {};
    m_insertLoss = {};
    m_advanceRecording = {};
    sqlite3_close(m_db);
    m_db = nullptr;
}

StoreStatus HistoryStore::createSchema() {
    return statusOf(sqliteExec(m_db, kSchema));
}

StoreStatus HistoryStore::prepareStatements() {
    m_insertTs = SqliteStatement(
        m_db,
        "INSERT INTO ts_change(point, rx_us, tag_us, mac, state, flags) VALUES(?, ?, ?, ?, ?, ?)");
    m_upsertTi = SqliteStatement(m_db, kUpsertTi);
    m_insertEvent = SqliteStatement(m_db,
                                    "INSERT INTO device_event(time_us, mac, kind, count, ip, "
                                    "previous_ip) VALUES(?, ?, ?, ?, ?, ?)");
    m_insertLoss = SqliteStatement(
        m_db, "INSERT INTO recording_loss(time_us, lost_ts, lost_events) VALUES(?, ?, ?)");
    m_advanceRecording = SqliteStatement(m_db, "UPDATE recording SET stop_us = ? WHERE rowid = ?");
    for (const SqliteStatement* statement :
         {&m_insertTs, &m_upsertTi, &m_insertEvent, &m_insertLoss, &m_advanceRecording}) {
        if (statement->prepareResult() != SQLITE_OK) {
            return statusOf(statement->prepareResult());
        }
    }
    return StoreStatus::Ok;
}

StoreStatus HistoryStore::write(const RecordBatch& batch, std::int64_t nowUs) {
    if (m_db == nullptr) {
        return StoreStatus::Failed;
    }
    int result = sqliteExec(m_db, "BEGIN IMMEDIATE");
    if (result != SQLITE_OK) {
        return statusOf(result);
    }
    insertBatchRows(batch, result);
    if (result == SQLITE_OK && (batch.lostTsChanges > 0 || batch.lostEvents > 0)) {
        m_insertLoss.bind(1, nowUs);
        m_insertLoss.bind(2, static_cast<std::int64_t>(batch.lostTsChanges));
        m_insertLoss.bind(3, static_cast<std::int64_t>(batch.lostEvents));
        result = m_insertLoss.run();
    }
    if (result == SQLITE_OK) {
        m_advanceRecording.bind(1, nowUs);
        m_advanceRecording.bind(2, m_recordingId);
        result = m_advanceRecording.run();
    }
    if (result == SQLITE_OK) {
        result = sqliteExec(m_db, "COMMIT");
    }
    if (result != SQLITE_OK) {
        const StoreStatus status = statusOf(result);
        sqliteExec(m_db, "ROLLBACK");
        return status;
    }
    return StoreStatus::Ok;
}

void HistoryStore::insertBatchRows(const RecordBatch& batch, int& result) {
    for (auto it = batch.tsChanges.begin(); result == SQLITE_OK && it != batch.tsChanges.end();
         ++it) {
        m_insertTs.bind(1, std::int64_t{it->point});
        m_insertTs.bind(2, it->rxUs);
        m_insertTs.bind(3, it->tagUs);
        m_insertTs.bind(4, it->mac);
        m_insertTs.bind(5, std::int64_t{it->state});
        m_insertTs.bind(6, std::int64_t{it->flags});
        result = m_insertTs.run();
    }
    for (auto it = batch.tiSeconds.begin(); result == SQLITE_OK && it != batch.tiSeconds.end();
         ++it) {
        m_upsertTi.bind(1, std::int64_t{it->point});
        m_upsertTi.bind(2, it->second);
        m_upsertTi.bind(3, it->last);
        m_upsertTi.bind(4, it->min);
        m_upsertTi.bind(5, it->max);
        m_upsertTi.bind(6, it->count);
        m_upsertTi.bind(7, it->mac);
        result = m_upsertTi.run();
    }
    for (auto it = batch.events.begin(); result == SQLITE_OK && it != batch.events.end(); ++it) {
        m_insertEvent.bind(1, it->timeUs);
        m_insertEvent.bind(2, it->mac);
        m_insertEvent.bind(3, std::string(deviceEventKindName(it->kind)));
        m_insertEvent.bind(4, std::int64_t{it->count});
        m_insertEvent.bind(5, it->ip);
        if (it->kind == DeviceEventKind::IpChanged) {
            m_insertEvent.bind(6, it->previousIp);
        }
        result = m_insertEvent.run();
    }
}

StoreStatus HistoryStore::pruneStep(const RetentionLimits& limits, std::int64_t nowUs, bool& more) {
    more = false;
    if (m_db == nullptr) {
        return StoreStatus::Failed;
    }
    const bool overBudget = dataBytes() > limits.maxBytes;
    const std::int64_t cutoff = nowUs - limits.days * kMicrosPerDay;
    for (const char* sql : {kPruneTs, kPruneTi, kPruneEvents, kPruneLosses, kPruneRecordings}) {
        const StoreStatus status = deleteOldest(sql, overBudget, cutoff, more);
        if (status != StoreStatus::Ok) {
            return status;
        }
    }
    return statusOf(sqliteExec(m_db, kReleaseFreePages));
}

StoreStatus HistoryStore::deleteOldest(const char* sql, bool overBudget, std::int64_t cutoff,
                                       bool& more) {
    SqliteStatement prune(m_db, sql);
    prune.bind(1, std::int64_t{overBudget ? 1 : 0});
    prune.bind(2, cutoff);
    prune.bind(3, std::int64_t{kPruneStepRows});
    const int result = prune.run();
    if (result != SQLITE_OK) {
        return statusOf(result);
    }
    more = more || sqlite3_changes(m_db) == kPruneStepRows;
    return StoreStatus::Ok;
}

std::int64_t HistoryStore::dataBytes() const {
    if (m_db == nullptr) {
        return 0;
    }
    const std::int64_t pages = sqliteQueryInt(m_db, "PRAGMA page_count", 0) -
                               sqliteQueryInt(m_db, "PRAGMA freelist_count", 0);
    return pages * sqliteQueryInt(m_db, "PRAGMA page_size", 0);
}

std::string HistoryStore::lastError() const {
    return m_db != nullptr ? sqlite3_errmsg(m_db) : "";
}

StoreStatus HistoryStore::statusOf(int result) const {
    switch (result & 0xFF) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return StoreStatus::Ok;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return StoreStatus::Busy;
        case SQLITE_FULL:
            return StoreStatus::Full;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_CANTOPEN:
            return StoreStatus::Unusable;
        default:
            return StoreStatus::Failed;
    }
}

}  // namespace qvlink
