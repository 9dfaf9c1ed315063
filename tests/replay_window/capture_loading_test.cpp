// A capture loaded off the GUI thread: the event loop goes on meanwhile, failures come back
// to the caller, and the progress dialog shows how far the load has come and can give it up.

#include "replay_window/capture_loading.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "capture_file/capture_file_reader.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;

QProgressDialog* shownProgressDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

TEST(CaptureLoading, TheLoadRunsOffTheGuiThreadWhileTheEventLoopGoesOn) {
    std::atomic<bool> loopRan = false;
    QTimer::singleShot(20, [&loopRan] { loopRan = true; });
    std::thread::id loadThread;
    const bool loaded = loadShowingProgress("site.pcap", [&](const capture::LoadProgress&) {
        loadThread = std::this_thread::get_id();
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!loopRan && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(loopRan) << "the GUI thread ran its event loop while the load waited for it";
    EXPECT_NE(loadThread, std::this_thread::get_id());
}

TEST(CaptureLoading, AFailedLoadIsThrownAgainToTheCaller) {
    EXPECT_THROW(loadShowingProgress("site.pcap",
                                     [](const capture::LoadProgress&) {
                                         throw capture::CaptureFileError("site.pcap: truncated");
                                     }),
                 capture::CaptureFileError);
}

TEST(CaptureLoading, ALongLoadShowsItsProgressAndOtmenaGivesItUp) {
    int shownValue = -1;
    QString shownLabel;
    QTimer::singleShot(900, [&] {
        if (QProgressDialog* dialog = shownProgressDialog()) {
            shownValue = dialog->value();
            shownLabel = dialog->labelText();
            const auto buttons = dialog->findChildren<QPushButton*>();
            ASSERT_EQ(buttons.size(), 1);
            EXPECT_EQ(buttons.front()->text(), "Отмена");
            buttons.front()->click();
        }
    });
    const auto started = std::chrono::steady_clock::now();
    const bool loaded = loadShowingProgress("site.pcap", [](const capture::LoadProgress& progress) {
        // Half of the capture read, then no further until told to stop (at most 10 s).
        for (int i = 0; i < 1000; ++i) {
            if (!progress(500, 1000)) {
                throw capture::CaptureLoadCancelled();
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    EXPECT_FALSE(loaded);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the load stops when told";
    EXPECT_EQ(shownValue, 500) << "half of 1000 steps";
    EXPECT_EQ(shownLabel, "Загрузка записи site.pcap...");
    EXPECT_EQ(shownProgressDialog(), nullptr);
}

}  // namespace
}  // namespace qvlink
