#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace qvlink {

class BusRecording;

/// The recording half of "Запись и воспроизведение": the folder, start and stop, the file
/// being written and its counts.
class RecordControls : public QWidget {
    Q_OBJECT

public:
    /// Asks for a folder, starting at `current`; nothing when cancelled.
    using ChooseFolder =
        std::function<std::optional<QString>(QWidget* parent, const QString& current)>;

    RecordControls(BusRecording& recording, ChooseFolder chooseFolder, QWidget* parent = nullptr);

    /// Shows the state and counts of the recording as they are now.
    void refresh();

    void BStartStopClick();
    void BChooseFolderClick();

    QLabel* LFolder;
    QPushButton* BChooseFolder;
    QPushButton* BStartStop;
    QLabel* LFile;
    QLabel* LWritten;
    QLabel* LNotRecorded;
    QLabel* LState;

private:
    BusRecording& m_recording;
    ChooseFolder m_chooseFolder;
};

}  // namespace qvlink
