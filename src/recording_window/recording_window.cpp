#include "recording_window/recording_window.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qvlink {
namespace {

/// The counts move while recording; twice a second is enough to read them.
constexpr int kRefreshPeriodMs = 500;

}  // namespace

RecordingWindowSeams RecordingWindowSeams::system() {
    RecordingWindowSeams seams;
    seams.chooseFolder = [](QWidget* parent, const QString& current) -> std::optional<QString> {
        const QString folder =
            QFileDialog::getExistingDirectory(parent, QStringLiteral("Папка записей"), current);
        return folder.isEmpty() ? std::nullopt : std::optional(folder);
    };
    seams.chooseCapture = [](QWidget* parent) -> std::optional<QString> {
        const QString file = QFileDialog::getOpenFileName(
            parent, QStringLiteral("Открыть запись"), QString(),
            QStringLiteral("Записи шины (*.pcap *.pcapng *.pcap.*);;Все файлы (*)"));
        return file.isEmpty() ? std::nullopt : std::optional(file);
    };
    seams.launch = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    return seams;
}

QStringList replayArguments(const QString& capture) {
    return {QStringLiteral("--replay"), capture};
}

RecordingWindow::RecordingWindow(BusRecording& recording, RecordingWindowSeams seams,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), m_seams(std::move(seams)) {
    setWindowTitle(QStringLiteral("Запись и воспроизведение"));
    Record = new RecordControls(recording, m_seams.chooseFolder, this);
    BOpenCapture = new QPushButton(QStringLiteral("Открыть запись..."), this);
    BOpenFolder = new QPushButton(QStringLiteral("Открыть папку записей..."), this);
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(BOpenCapture);
    openRow->addWidget(BOpenFolder);
    openRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Record);
    layout->addLayout(openRow);

    TimerRefresh = new QTimer(this);
    TimerRefresh->setInterval(kRefreshPeriodMs);
    connect(TimerRefresh, &QTimer::timeout, Record, &RecordControls::refresh);
    connect(BOpenCapture, &QPushButton::clicked, this, [this] { BOpenCaptureClick(); });
    connect(BOpenFolder, &QPushButton::clicked, this, [this] { BOpenFolderClick(); });
    TimerRefresh->start();
}

void RecordingWindow::showInFront() {
    Record->refresh();
    show();
    raise();
    activateWindow();
}

void RecordingWindow::showReplayControls(QWidget* controls) {
    Record->hide();
    TimerRefresh->stop();
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, controls);
}

void RecordingWindow::BOpenCaptureClick() {
    if (const std::optional<QString> capture = m_seams.chooseCapture(this)) {
        openReplay(*capture);
    }
}

void RecordingWindow::BOpenFolderClick() {
    if (const std::optional<QString> folder = m_seams.chooseFolder(this, QString())) {
        openReplay(*folder);
    }
}

void RecordingWindow::openReplay(const QString& capture) {
    const QString program = QCoreApplication::applicationFilePath();
    if (!m_seams.launch(program, replayArguments(capture)) && m_seams.notice) {
        m_seams.notice("Не удалось запустить воспроизведение " + capture.toStdString(), true);
    }
}

}  // namespace qvlink
