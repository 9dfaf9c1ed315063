#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

#include "recording_window/record_controls.h"

class QPushButton;
class QTimer;

namespace qvlink {

class BusRecording;

/// What the window asks of the system, so that tests answer instead.
struct RecordingWindowSeams {
    RecordControls::ChooseFolder chooseFolder;
    /// Asks for a capture file (pcap or pcapng) in an open dialog; nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent)> chooseCapture;
    /// Starts `program` with `arguments` as a process of its own; false when it could not.
    std::function<bool(const QString& program, const QStringList& arguments)> launch;
    /// Text for the event log, and whether it needs the user's attention.
    std::function<void(const std::string& text, bool needsAttention)> notice;

    /// The program's real dialogs and QProcess::startDetached; notices go nowhere.
    static RecordingWindowSeams system();
};

/// The monitor started on a capture: this program with --replay and the file or folder.
QStringList replayArguments(const QString& capture);

/// "Запись и воспроизведение": recording of the bus this monitor receives, and opening a
/// recording, which starts a second monitor that replays it (this one goes on untouched).
class RecordingWindow : public QWidget {
    Q_OBJECT

public:
    RecordingWindow(BusRecording& recording, RecordingWindowSeams seams, QWidget* parent = nullptr);

    /// Shows the window in front, or brings it there.
    void showInFront();
    /// A replaying monitor records nothing: `controls` (the replay's, taken over by the
    /// window) stand in place of the record controls.
    void showReplayControls(QWidget* controls);

    void BOpenCaptureClick();
    void BOpenFolderClick();

    RecordControls* Record;
    QPushButton* BOpenCapture;
    QPushButton* BOpenFolder;
    QTimer* TimerRefresh;

private:
    void openReplay(const QString& capture);

    RecordingWindowSeams m_seams;
};

}  // namespace qvlink
