#include "recording_window/recording_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recording/bus_recording.h"
#include "support/event_wait.h"
#include "support/pcap_records.h"
#include "support/scratch_folder.h"

namespace qvlink {
namespace {

/// Programs the window started and what its dialogs answer.
struct SystemRecorder {
    std::optional<QString> capture;
    std::optional<QString> folder;
    bool launchSucceeds = true;
    std::vector<std::pair<QString, QStringList>> launched;
    std::vector<std::string> notices;

    RecordingWindowSeams seams() {
        RecordingWindowSeams seams;
        seams.chooseFolder = [this](QWidget*, const QString&) { return folder; };
        seams.chooseCapture = [this](QWidget*) { return capture; };
        seams.launch = [this](const QString& program, const QStringList& arguments) {
            launched.emplace_back(program, arguments);
            return launchSucceeds;
        };
        seams.notice = [this](const std::string& text, bool) { notices.push_back(text); };
        return seams;
    }
};

struct OpenCase {
    const char* name;
    bool folder;  ///< "Открыть папку записей..." instead of "Открыть запись..."
    std::optional<QString> chosen;
};

class OpenRecording : public ::testing::TestWithParam<OpenCase> {};

// The live monitor starts a second one on the capture and stays as it is.
TEST_P(OpenRecording, StartsThisProgramWithReplayOnTheChoiceOrNothingWhenCancelled) {
    const OpenCase& row = GetParam();
    BusRecording recording({});
    SystemRecorder system;
    (row.folder ? system.folder : system.capture) = row.chosen;
    RecordingWindow window(recording, system.seams());
    (row.folder ? window.BOpenFolder : window.BOpenCapture)->click();
    if (!row.chosen) {
        EXPECT_TRUE(system.launched.empty());
        return;
    }
    ASSERT_EQ(system.launched.size(), 1U);
    EXPECT_EQ(system.launched[0].first, QCoreApplication::applicationFilePath());
    EXPECT_EQ(system.launched[0].second, (QStringList{"--replay", *row.chosen}));
    EXPECT_TRUE(system.notices.empty());
    EXPECT_FALSE(recording.status().recording);
}

INSTANTIATE_TEST_SUITE_P(
    RecordingWindow, OpenRecording,
    ::testing::Values(OpenCase{"CaptureFile", false, QStringLiteral("/data/substation 1.pcapng")},
                      OpenCase{"CaptureCancelled", false, std::nullopt},
                      OpenCase{"Folder", true, QStringLiteral("/data/rotated")},
                      OpenCase{"FolderCancelled", true, std::nullopt}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST(RecordingWindow, AReplayThatCannotStartIsReportedInTheEventLog) {
    BusRecording recording({});
    SystemRecorder system;
    system.capture = QStringLiteral("/data/bus.pcap");
    system.launchSucceeds = false;
    RecordingWindow window(recording, system.seams());
    window.BOpenCaptureClick();
    ASSERT_EQ(system.notices.size(), 1U);
    EXPECT_NE(system.notices[0].find("/data/bus.pcap"), std::string::npos);
}

TEST(RecordingWindow, AReplayingMonitorShowsTheReplayControlsInPlaceOfTheRecordOnes) {
    BusRecording recording({});
    SystemRecorder system;
    RecordingWindow window(recording, system.seams());
    auto* controls = new QWidget;
    window.showReplayControls(controls);
    window.show();
    EXPECT_EQ(controls->parentWidget(), &window);
    EXPECT_TRUE(controls->isVisible());
    EXPECT_FALSE(window.Record->isVisible());
    EXPECT_FALSE(window.TimerRefresh->isActive());
    EXPECT_TRUE(window.BOpenCapture->isVisible()) << "another capture opens beside this one";
}

TEST(RecordingWindow, StartAndStopRecordIntoTheChosenFolderAndShowTheFileAndCounts) {
    test::ScratchDirectory folder;
    BusRecording recording({});
    recording.setFolder("/nonexistent");
    SystemRecorder system;
    system.folder = QString::fromStdString(folder.path());
    RecordingWindow window(recording, system.seams());
    RecordControls& controls = *window.Record;
    EXPECT_EQ(controls.BStartStop->text(), "Начать запись");
    EXPECT_EQ(controls.LState->text(), "Запись не ведётся");

    controls.BChooseFolder->click();
    EXPECT_EQ(controls.LFolder->text(), system.folder);
    controls.BStartStop->click();
    EXPECT_EQ(controls.BStartStop->text(), "Остановить запись");
    EXPECT_FALSE(controls.BChooseFolder->isEnabled());
    const QString path = controls.LFile->text();
    EXPECT_TRUE(path.startsWith(*system.folder + "/qvlink-")) << path.toStdString();

    const std::vector<std::uint8_t> datagram(20, 0x11);
    for (int i = 0; i < 3; ++i) {
        recording.record(i, {0x7F000001, 973, 0, 973}, datagram, datagram.size());
    }
    EXPECT_TRUE(test::processEventsUntil([&] { return controls.LWritten->text() == "3"; }))
        << "the window's timer shows the count";
    controls.BStartStop->click();
    EXPECT_EQ(controls.BStartStop->text(), "Начать запись");
    EXPECT_EQ(controls.LFile->text(), path) << "the last file stays on show";
    EXPECT_EQ(controls.LNotRecorded->text(), "0");
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return test::readPcap(path.toStdString()).records.size() == 3; }));
}

TEST(RecordingWindow, AFailedRecordingSaysSoAndOffersToStartAgain) {
    BusRecording recording({});
    recording.setFolder("/nonexistent/folder");
    SystemRecorder system;
    RecordingWindow window(recording, system.seams());
    window.Record->BStartStopClick();
    EXPECT_TRUE(test::processEventsUntil([&] {
        return window.Record->LState->text() ==
               "Запись остановлена из-за ошибки (см. журнал событий)";
    }));
    EXPECT_EQ(window.Record->BStartStop->text(), "Начать запись");
}

}  // namespace
}  // namespace qvlink
