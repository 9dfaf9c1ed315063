#include "recording_window/record_controls.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "recording/bus_recording.h"

namespace qvlink {
namespace {

QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString stateText(const RecordingStatus& status) {
    if (status.recording) {
        return QStringLiteral("Идёт запись");
    }
    if (status.failed) {
        return QStringLiteral("Запись остановлена из-за ошибки (см. журнал событий)");
    }
    return QStringLiteral("Запись не ведётся");
}

}  // namespace

RecordControls::RecordControls(BusRecording& recording, ChooseFolder chooseFolder, QWidget* parent)
    : QWidget(parent), m_recording(recording), m_chooseFolder(std::move(chooseFolder)) {
    LFolder = valueLabel(this);
    BChooseFolder = new QPushButton(QStringLiteral("Папка..."), this);
    BStartStop = new QPushButton(this);
    LFile = valueLabel(this);
    LWritten = valueLabel(this);
    LNotRecorded = valueLabel(this);
    LState = valueLabel(this);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(LFolder, 1);
    folderRow->addWidget(BChooseFolder);
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(QStringLiteral("Папка записей:"), folderRow);
    form->addRow(QString(), BStartStop);
    form->addRow(QStringLiteral("Файл:"), LFile);
    form->addRow(QStringLiteral("Записано пакетов:"), LWritten);
    form->addRow(QStringLiteral("Не записано пакетов:"), LNotRecorded);
    form->addRow(QString(), LState);

    connect(BStartStop, &QPushButton::clicked, this, [this] { BStartStopClick(); });
    connect(BChooseFolder, &QPushButton::clicked, this, [this] { BChooseFolderClick(); });
    refresh();
}

void RecordControls::refresh() {
    const RecordingStatus status = m_recording.status();
    LFolder->setText(QString::fromStdString(m_recording.folder()));
    BStartStop->setText(status.recording ? QStringLiteral("Остановить запись")
                                         : QStringLiteral("Начать запись"));
    BChooseFolder->setEnabled(!status.recording);
    LFile->setText(QString::fromStdString(status.path));
    LWritten->setText(QString::number(status.written));
    LNotRecorded->setText(QString::number(status.notRecorded));
    LState->setText(stateText(status));
}

void RecordControls::BStartStopClick() {
    if (m_recording.status().recording) {
        m_recording.stop();
    } else {
        m_recording.start();
    }
    refresh();
}

void RecordControls::BChooseFolderClick() {
    if (const std::optional<QString> folder =
            m_chooseFolder(this, QString::fromStdString(m_recording.folder()))) {
        m_recording.setFolder(folder->toStdString());
        refresh();
    }
}

}  // namespace qvlink
