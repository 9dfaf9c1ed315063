#pragma once

// A real main window and trace window on a free loopback port, with modal boxes recorded
// instead of shown and a fixed clock.

#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "support/event_wait.h"
#include "support/udp_sender.h"
#include "trace/trace_window.h"
#include "ui/grid_view.h"

namespace qvlink::test {

inline LocalDateTime fixedClock() {
    return {2026, 12, 9, 12, 0, 1, 250};
}

/// What the windows asked the user and told the user.
struct DialogRecorder {
    std::vector<QString> errors;
    std::vector<QString> infos;
    std::vector<QString> prompts;
    QString inputAnswer;  ///< returned by the input box; the initial text when cancelled
    bool cancelInput = false;
    std::optional<QString> savePath;

    Dialogs dialogs() {
        Dialogs recorded;
        recorded.error = [this](QWidget*, const QString& message) {
            errors.push_back(displayedErrorMessage(message));
        };
        recorded.info = [this](QWidget*, const QString& message) { infos.push_back(message); };
        recorded.inputText = [this](QWidget*, const QString& prompt, const QString& initial, int) {
            prompts.push_back(prompt);
            return cancelInput ? initial : inputAnswer;
        };
        recorded.saveFileName = [this](QWidget*, const SaveDialogSettings&) { return savePath; };
        return recorded;
    }
};

/// The two windows as the program builds them, listening on an ephemeral port.
struct Monitor {
    /// `traceClock` stamps the trace's records.
    explicit Monitor(MonitorSettings settings = ephemeralSettings(), Clock traceClock = fixedClock)
        : main(std::make_unique<TFMain>(settings, fixedClock, FormatSettings{".", ":"},
                                        recorder.dialogs(), [this] { return elapsedMs; })),
          trace(std::make_unique<TFTrace>(std::move(traceClock), FormatSettings{".", ":"},
                                          recorder.dialogs())) {
        main->TimerSync->stop();  // ticks are driven by the tests
        main->setTraceWindow(trace.get());
    }

    ~Monitor() { main.reset(); }  // the endpoint stops before the trace goes
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    static MonitorSettings ephemeralSettings() {
        MonitorSettings settings;
        settings.busPort = 0;
        return settings;
    }

    int busPort() { return main->UdpServer.binding(0).Port; }

    /// Sends datagrams from `fromIp` and waits until the registry has counted `expectedTotal`
    /// datagrams of all devices together.
    bool sendAndWait(const std::vector<std::vector<std::uint8_t>>& datagrams,
                     std::uint32_t expectedTotal, const char* fromIp = "127.0.0.1") {
        LoopbackUdpSocket sender(fromIp);
        for (const auto& bytes : datagrams) {
            sender.sendTo(busPort(), bytes);
        }
        return processEventsUntil([&] { return totalDatagrams() == expectedTotal; });
    }

    std::uint32_t totalDatagrams() const {
        std::uint32_t total = 0;
        TDevice device;
        for (int n = 1; n <= main->registry().deviceCount(); ++n) {
            main->registry().getDevice(n, device);
            total += device.total;
        }
        return total;
    }

    /// The statistics' clock in milliseconds, moved by the tests.
    std::int64_t elapsedMs = 0;
    DialogRecorder recorder;
    std::unique_ptr<TFMain> main;
    std::unique_ptr<TFTrace> trace;
};

}  // namespace qvlink::test
