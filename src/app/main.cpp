// qvlink-monitor: the QV-LINK bus monitor. Listens on UDP port 973, or replays a capture,
// and records the bus history unless told otherwise (see --help).

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/fonts.h"
#include "app/main_window.h"
#include "app/qt_dispatcher.h"
#include "app/replay_session.h"
#include "app/shortcuts.h"
#include "app/termination_signals.h"
#include "busstats_window/bus_statistics_window.h"
#include "capture_file/capture_file_reader.h"
#include "eventlog/event_log_window.h"
#include "history/history_location.h"
#include "history/history_recorder.h"
#include "net/transport_error.h"
#include "recording/bus_recording.h"
#include "recording_window/recording_window.h"
#include "remote/remote_bus_source.h"
#include "replay_window/capture_loading.h"
#include "replay_window/replay_controls.h"
#include "trace/trace_window.h"

namespace {

void printNotice(const std::string& text) {
    std::fprintf(stderr, "qvlink-monitor: %s\n", text.c_str());
}

/// The history file the options name, or the default one; empty when there is none. A
/// replay has a file of its own, started afresh, beside the live one.
std::string historyPathOf(const qvlink::CommandLineOptions& options,
                          const qvlink::ReplaySource* replay) {
    if (!options.historyPath.empty()) {
        return options.historyPath;
    }
    const std::string live =
        qvlink::defaultHistoryPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (replay == nullptr || live.empty()) {
        return live;
    }
    const std::string own = qvlink::replayHistoryPath(live, replay->name);
    qvlink::removeUnclaimedHistory(own);
    return own;
}

/// The recorder the options ask for, or none.
std::unique_ptr<qvlink::HistoryRecorder> startHistory(
    const qvlink::CommandLineOptions& options, const std::string& path,
    const qvlink::EpochClock& clock, const qvlink::HistoryRecorder::Notice& notice) {
    if (!options.recordHistory) {
        return nullptr;
    }
    qvlink::HistoryOptions history;
    history.path = path;
    history.clock = clock;
    if (history.path.empty()) {
        notice("История не записывается: не задан ни XDG_DATA_HOME, ни HOME", true);
        return nullptr;
    }
    history.retention.days = options.historyDays;
    history.retention.maxBytes = std::int64_t{options.historyMaxMb} * 1024 * 1024;
    return std::make_unique<qvlink::HistoryRecorder>(history, notice);
}

/// The folder recordings go to until the user picks another: --record's, or the home folder.
std::string startingRecordFolder(const qvlink::CommandLineOptions& options) {
    if (!options.recordFolder.empty()) {
        return options.recordFolder;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : ".";
}

/// The capture the options name, loaded off the GUI thread; null without --replay. Exits with
/// a message when it cannot be read, and quietly when the user gives the load up.
std::unique_ptr<qvlink::ReplaySource> loadReplay(const qvlink::CommandLineOptions& options) {
    if (options.replayFiles.empty()) {
        return nullptr;
    }
    std::unique_ptr<qvlink::ReplaySource> source;
    try {
        const QString name =
            QFileInfo(QString::fromStdString(options.replayFiles.front())).fileName();
        const auto load = [&](const qvlink::capture::LoadProgress& progress) {
            source = std::make_unique<qvlink::ReplaySource>(options.replayFiles, progress);
        };
        if (!qvlink::loadShowingProgress(name, load)) {
            std::exit(EXIT_SUCCESS);
        }
        return source;
    } catch (const qvlink::capture::CaptureFileError& error) {
        printNotice(error.what());
        qvlink::Dialogs::modal().error(nullptr, QString::fromStdString(error.what()));
        std::exit(EXIT_FAILURE);
    }
}

/// The broker source of a bus watched from afar, started; none for the bus port.
std::unique_ptr<qvlink::RemoteBusSource> startRemoteSource(
    const qvlink::CommandLineOptions& options, qvlink::QtDispatcher& dispatcher,
    qvlink::TFMain& window, const qvlink::RemoteBusSource::Notice& notice) {
    if (!options.remoteSource) {
        return nullptr;
    }
    auto source = std::make_unique<qvlink::RemoteBusSource>(
        *options.remoteSource, dispatcher,
        [&window](const qvlink::RawRecord& record) { window.receiveDatagram(record); }, notice);
    source->start();
    return source;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const qvlink::CommandLine commandLine = qvlink::parseCommandLine(arguments);
    if (!commandLine.run) {
        std::fputs(commandLine.output.c_str(), stdout);
        std::fputs(commandLine.error.c_str(), stderr);
        return commandLine.exitCode;
    }

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qvlink-monitor"));
    qvlink::registerTahomaFace();

    // Outlives the recorder, whose notices it shows (posted from the writer's thread).
    qvlink::EventLogWindow eventLog;
    const auto notice = [&eventLog](const std::string& text, bool needsAttention) {
        printNotice(text);
        eventLog.post(text, needsAttention);
    };
    // The capture and its clock outlive everything that reads the clock.
    const std::unique_ptr<qvlink::ReplaySource> replay = loadReplay(commandLine.options);
    const qvlink::Clock clock = replay ? replay->clock.localClock() : qvlink::systemLocalTime;
    const qvlink::EpochClock epoch =
        replay ? replay->clock.epochClock() : qvlink::systemEpochMicros;
    const std::string historyPath = historyPathOf(commandLine.options, replay.get());
    // Outlives the window, so every datagram the window handles can still be recorded.
    const std::unique_ptr<qvlink::HistoryRecorder> recorder =
        startHistory(commandLine.options, historyPath, epoch, notice);
    // Outlives the window, whose endpoint hands it every datagram.
    qvlink::BusRecording recording(notice);
    recording.setRotation(commandLine.options.recordRotation);
    recording.setFolder(startingRecordFolder(commandLine.options));
    if (!commandLine.options.recordFolder.empty()) {
        recording.start();
    }
    const qvlink::FormatSettings format = qvlink::FormatSettings::fromSystemLocale();
    const qvlink::Dialogs dialogs = qvlink::Dialogs::modal();
    for (const std::string& warning : commandLine.options.warnings) {
        notice(warning, true);
    }
    // Before the main window, so it outlives the refresh that draws it.
    qvlink::BusStatisticsWindow busStatistics(format);
    qvlink::MonitorSettings settings;
    if (replay) {
        settings.replayOf = replay->name;
    }
    if (commandLine.options.remoteSource) {
        settings.remoteSource = commandLine.options.remoteSource->url.text();
    }
    qvlink::TFMain FMain(settings, clock, format, dialogs,
                         replay ? replay->clock.elapsedClock() : qvlink::steadyMilliseconds, epoch);
    // The trace shows the arrival time that the recording stores (replaying, the capture's;
    // watched from afar, the bridge's capture time).
    qvlink::TFTrace FTrace([&FMain] { return FMain.arrivalTime(); }, format, dialogs);
    FMain.setTraceWindow(&FTrace);
    FMain.recordBus(recording);
    qvlink::RecordingWindowSeams recordingSeams = qvlink::RecordingWindowSeams::system();
    recordingSeams.notice = notice;
    qvlink::RecordingWindow recordingWindow(recording, std::move(recordingSeams));
    FTrace.setMenuExtension([&recordingWindow, &busStatistics](QMenu& menu) {
        qvlink::addMenuEntry(menu, QStringLiteral("Запись и воспроизведение..."),
                             qvlink::kRecordingShortcut,
                             [&recordingWindow] { recordingWindow.showInFront(); });
        qvlink::addBusStatisticsEntry(menu, busStatistics);
    });
    if (recorder) {
        FMain.recordHistory(*recorder);
    }
    FMain.setBusStatisticsWindow(&busStatistics);
    FMain.setNoticeSink([&eventLog](const std::string& text, bool needsAttention) {
        eventLog.post(text, needsAttention);
    });
    // The trend reads the file being written, or without recording the one named.
    FMain.setHistoryFile([&recorder, configured = historyPath] {
        const std::string active = recorder ? recorder->activePath() : std::string();
        return active.empty() ? configured : active;
    });
    for (QWidget* window : {static_cast<QWidget*>(&FMain), static_cast<QWidget*>(&FTrace)}) {
        qvlink::addShortcut(*window, qvlink::kEventLogShortcut,
                            [&eventLog] { eventLog.showAndActivate(); });
        qvlink::addShortcut(*window, qvlink::kBusStatisticsShortcut,
                            [&busStatistics] { busStatistics.showInFront(); });
        qvlink::addShortcut(*window, qvlink::kRecordingShortcut,
                            [&recordingWindow] { recordingWindow.showInFront(); });
    }
    // After the windows it drives, so it stops first. Its controls take the place of the
    // record controls, and show from the start.
    std::unique_ptr<qvlink::ReplaySession> replaySession;
    if (replay) {
        replaySession = std::make_unique<qvlink::ReplaySession>(*replay, FMain);
        recordingWindow.showReplayControls(
            new qvlink::ReplayControls(replaySession->player(), format));
        for (const std::string& text : qvlink::replayNotices(replay->capture)) {
            notice(text, false);
        }
        recordingWindow.showInFront();
        replaySession->player().play();
    }
    qvlink::QtDispatcher remoteDispatcher;
    std::unique_ptr<qvlink::RemoteBusSource> remoteSource;
    try {
        remoteSource = startRemoteSource(commandLine.options, remoteDispatcher, FMain, notice);
    } catch (const qvlink::TransportError& error) {
        printNotice(error.what());
        return 1;
    }
    FMain.show();
    const qvlink::TerminationSignals terminationSignals([&FMain] { FMain.close(); });

    const int exitCode = QApplication::exec();
    FMain.stopUdpServer();
    return exitCode;
}
