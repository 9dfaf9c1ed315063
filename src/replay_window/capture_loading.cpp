#include "replay_window/capture_loading.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <exception>
#include <thread>

namespace qvlink {
namespace {

constexpr int kShowAfterMs = 500;
constexpr int kPollMs = 50;
constexpr int kSteps = 1000;

/// What the loading thread tells the GUI thread, and the GUI thread's cancel.
struct LoadState {
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<std::uint64_t> bytesTotal{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::exception_ptr failure;  // written by the loading thread before `finished`
};

int stepOf(const LoadState& state) {
    const std::uint64_t total = state.bytesTotal.load();
    return total == 0 ? 0 : static_cast<int>(state.bytesRead.load() * kSteps / total);
}

}  // namespace

bool loadShowingProgress(const QString& name,
                         const std::function<void(const capture::LoadProgress&)>& load) {
    LoadState state;
    QProgressDialog dialog(QStringLiteral("Загрузка записи %1...").arg(name),
                           QStringLiteral("Отмена"), 0, kSteps);
    dialog.setWindowTitle(QStringLiteral("Воспроизведение"));
    dialog.setMinimumDuration(kShowAfterMs);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);  // from here the dialog times how long the load takes
    QObject::connect(&dialog, &QProgressDialog::canceled, [&state] { state.cancelled = true; });

    std::thread loader([&state, &load] {
        try {
            load([&state](std::uint64_t bytesRead, std::uint64_t bytesTotal) {
                state.bytesRead = bytesRead;
                state.bytesTotal = bytesTotal;
                return !state.cancelled.load();
            });
        } catch (...) {
            state.failure = std::current_exception();
        }
        state.finished = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (state.finished.load()) {
            loop.quit();
        } else if (!state.cancelled.load()) {
            dialog.setValue(stepOf(state));
        }
    });
    poll.start(kPollMs);
    loop.exec();
    loader.join();
    if (state.failure) {
        try {
            std::rethrow_exception(state.failure);
        } catch (const capture::CaptureLoadCancelled&) {
            return false;
        }
    }
    return true;
}

}  // namespace qvlink
