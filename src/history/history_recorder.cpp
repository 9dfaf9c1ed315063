#include "history/history_recorder.h"

#include <utility>

namespace qvlink {
namespace {

/// Monitors that can record side by side: the file itself and "-2" to "-9" beside it.
constexpr int kMaxMonitorsPerFile = 9;
/// Attempts to open a file that another connection keeps busy, a busy-timeout apart.
constexpr int kOpenAttempts = 8;
/// Commit periods between prune checks while nothing is due.
constexpr int kPruneCheckPeriods = 60;
/// Prune steps at most per commit period while rows are due.
constexpr int kPruneStepsPerPeriod = 5;

}  // namespace

HistoryRecorder::HistoryRecorder(HistoryOptions options, Notice notice)
    : m_options(std::move(options)),
      m_notice(std::move(notice)),
      m_pending(m_options.tiCapacity, m_options.changeCapacity),
      m_writer([this] { run(); }) {}

HistoryRecorder::~HistoryRecorder() {
    {
        const std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

void HistoryRecorder::recordTsChange(TsChange change) {
    if (m_accepting.load(std::memory_order_relaxed)) {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_pending.addTsChange(std::move(change));
    }
}

void HistoryRecorder::recordTiValue(int point, std::int64_t rxUs, const std::string& mac,
                                    float value) {
    if (m_accepting.load(std::memory_order_relaxed)) {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_pending.addTiValue(point, rxUs, mac, value);
    }
}

void HistoryRecorder::recordEvent(const DeviceEvent& event) {
    if (m_accepting.load(std::memory_order_relaxed)) {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_pending.addEvent(event);
    }
}

RecorderCounters HistoryRecorder::counters() const {
    const std::lock_guard<std::mutex> lock(m_queueMutex);
    return {m_pending.foldedTiSeconds(), m_pending.lostTsChanges(), m_pending.lostEvents()};
}

std::string HistoryRecorder::activePath() const {
    const std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_activePath;
}

void HistoryRecorder::run() {
    bool usable = openStore();
    int periodsToPrune = 0;
    for (bool stopping = false; usable && !stopping;) {
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_wake.wait_for(lock, m_options.commitPeriod, [this] { return m_stopping; });
            stopping = m_stopping;
        }
        usable = commitPending();
        if (usable && !stopping && --periodsToPrune <= 0) {
            periodsToPrune = pruneWhileDue() ? 1 : kPruneCheckPeriods;
        }
    }
    m_accepting.store(false);
    m_store.close();
    m_lock.release();
}

bool HistoryRecorder::openStore() {
    if (!createParentFolders(m_options.path)) {
        notify("История не записывается: не удалось создать папку для файла " + m_options.path,
               true);
        return false;
    }
    for (int number = 1; number <= kMaxMonitorsPerFile; ++number) {
        const std::string path =
            number == 1 ? m_options.path : numberedHistoryPath(m_options.path, number);
        if (!m_lock.tryClaim(path)) {
            continue;
        }
        if (number > 1) {
            notify("Файл истории " + m_options.path +
                       " занят другим экземпляром монитора; история записывается в " + path,
                   false);
        }
        const StoreStatus status = openClaimed(path);
        if (status == StoreStatus::Ok) {
            return true;
        }
        if (status == StoreStatus::Unusable) {
            return moveAsideAndReopen(path);
        }
        notify("История не записывается: файл " + path + " не открывается (" + m_store.lastError() +
                   ")",
               true);
        return false;
    }
    notify("История не записывается: файл " + m_options.path +
               " и запасные файлы рядом с ним заняты другими экземплярами монитора",
           true);
    return false;
}

StoreStatus HistoryRecorder::openClaimed(const std::string& path) {
    StoreStatus status = StoreStatus::Busy;
    for (int attempt = 0; attempt < kOpenAttempts && status == StoreStatus::Busy; ++attempt) {
        status = m_store.open(path, m_options.clock(), m_options.vfs);
    }
    if (status == StoreStatus::Ok) {
        const std::lock_guard<std::mutex> lock(m_pathMutex);
        m_activePath = path;
    }
    return status;
}

bool HistoryRecorder::moveAsideAndReopen(const std::string& path) {
    m_store.close();
    const std::string aside = asidePath(path, m_options.clock());
    if (!moveDatabaseAside(path, aside)) {
        notify(
            "История не записывается: файл " + path + " не открывается и не может быть перемещён",
            true);
        return false;
    }
    if (openClaimed(path) != StoreStatus::Ok) {
        notify("История не записывается: не удалось начать новый файл " + path + " (" +
                   m_store.lastError() + ")",
               true);
        return false;
    }
    notify("Файл истории " + path + " повреждён или не открывается; он перемещён в " + aside +
               ", начат новый файл",
           true);
    return true;
}

bool HistoryRecorder::commitPending() {
    // A batch an earlier period could not write goes first, then what queued up meanwhile.
    if (m_unwritten && !writeUnwritten()) {
        return m_usable;
    }
    {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_unwritten = m_pending.take();
    }
    writeUnwritten();
    return m_usable;
}

bool HistoryRecorder::writeUnwritten() {
    const StoreStatus status = m_store.write(*m_unwritten, m_options.clock());
    switch (status) {
        case StoreStatus::Ok:
            announceLosses(*m_unwritten);
            m_unwritten.reset();
            if (m_paused) {
                m_paused = false;
                notify("Запись истории возобновлена", false);
            }
            return true;
        case StoreStatus::Busy:
            return false;  // another connection writes: the batch waits for the next period
        case StoreStatus::Full:
        case StoreStatus::Failed:
            pause(status);
            return false;
        case StoreStatus::Unusable:
            m_usable = moveAsideAndReopen(activePath());
            return false;
    }
    return false;
}

void HistoryRecorder::pause(StoreStatus status) {
    if (m_paused) {
        return;
    }
    m_paused = true;
    const std::string reason =
        status == StoreStatus::Full ? "диск заполнен" : "ошибка записи: " + m_store.lastError();
    notify("Запись истории приостановлена (" + reason +
               "); она продолжится, когда запись снова станет возможна",
           true);
}

bool HistoryRecorder::pruneWhileDue() {
    bool more = false;
    for (int step = 0; step < kPruneStepsPerPeriod; ++step) {
        if (m_store.pruneStep(m_options.retention, m_options.clock(), more) != StoreStatus::Ok ||
            !more) {
            break;
        }
    }
    return more;
}

void HistoryRecorder::announceLosses(const RecordBatch& batch) {
    if (batch.lostTsChanges == 0 && batch.lostEvents == 0) {
        return;
    }
    notify("Очередь записи истории переполнена: не записано изменений ТС: " +
               std::to_string(batch.lostTsChanges) +
               ", событий устройств: " + std::to_string(batch.lostEvents),
           true);
}

void HistoryRecorder::notify(const std::string& text, bool needsAttention) const {
    if (m_notice) {
        m_notice(text, needsAttention);
    }
}

}  // namespace qvlink
