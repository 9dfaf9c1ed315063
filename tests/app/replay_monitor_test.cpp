// The monitor replaying a capture: the windows as the program builds them for --replay, fed
// by a scripted capture written in a temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/monitor_fixture.h"
#include "app/replay_session.h"
#include "app/table_refresh.h"
#include "busstats/statistics_table.h"
#include "dump/capture_file.h"
#include "history/history_reader.h"
#include "history/history_recorder.h"
#include "recording/bus_recording.h"
#include "replay_window/replay_controls.h"
#include "support/packet_builder.h"
#include "support/pcap_records.h"
#include "support/scratch_folder.h"
#include "trend/trend_window.h"

namespace qvlink {
namespace {

using test::Bytes;
using test::sequencedDatagram;

const QColor kGrey(0xA0, 0xA0, 0xA4);
const timeval kStart{1'718'454'600, 0};  // 2024-06-15 12:30:00 UTC
constexpr std::int64_t kStartUs = 1'718'454'600'000'000;
constexpr std::int64_t kSecond = 1'000'000;

test::UdpEndpoints from(std::uint8_t lastByte) {
    test::UdpEndpoints endpoints;
    endpoints.sourceIp = test::ipv4(10, 0, 0, lastByte);
    return endpoints;
}

/// Device 1 (Ларта-К, 10.0.0.12) reports TS 12 once at the start and falls silent; device 2
/// (10.0.0.13) reports TI 3 every 10 s for 100 s, its value rising by one each time.
void writeScript(const std::string& path) {
    test::CaptureFile file(path, DLT_EN10MB);
    file.addDatagram(kStart, sequencedDatagram(16, 0x0A003C, 1, kClassTs, 2, {12, 0, 0x07}),
                     from(12));
    for (int i = 0; i <= 10; ++i) {
        const float value = 1.5f + static_cast<float>(i);
        std::uint8_t raw[4];
        std::memcpy(raw, &value, sizeof raw);
        file.addDatagram(test::later(kStart, 500 + 10'000 * i),
                         sequencedDatagram(1, 0x001122, static_cast<std::uint8_t>(i + 1), kClassTi,
                                           2, {3, 0, 0, raw[0], raw[1], raw[2], raw[3]}),
                         from(13));
    }
}

/// Every cell the replay writes into the windows, to compare two runs.
std::vector<std::string> shownState(TFMain& main, TFTrace& trace) {
    std::vector<std::string> cells;
    const auto take = [&cells](GridView& grid, int columns, int rows) {
        for (int row = 1; row <= rows; ++row) {
            for (int col = 0; col < columns; ++col) {
                cells.push_back(grid.getCellText(col, row) + "|" +
                                grid.cellAppearance(col, row).text.name().toStdString());
            }
        }
    };
    take(*main.GridDevices, kDevicesGridColumns, 3);
    take(*main.GridTs, kPointGridColumns, 20);
    take(*main.GridTi, kPointGridColumns, 20);
    take(*trace.GridTrace, 4, trace.GridTrace->RowCount());
    cells.push_back(std::to_string(main.statistics().acceptedCount()));
    return cells;
}

/// What the statistics and the tables say of the traffic, leaving out the times, which a
/// live run and its replay read from different clocks.
std::vector<std::string> countsAndValues(TFMain& main) {
    main.updateBusStatistics();
    std::vector<std::string> facts{"accepted " + std::to_string(main.statistics().acceptedCount())};
    for (const TotalRow& row : dropRows(main.statistics(), true, StatisticsLanguage::English)) {
        facts.push_back(row.item + " " + std::to_string(row.count) + " " + row.lastSender);
    }
    for (int n = 1; n <= main.registry().deviceCount(); ++n) {
        TDevice device;
        main.registry().getDevice(n, device);
        facts.push_back(device.macAddr + " " + device.ipAddr + " total " +
                        std::to_string(device.total) + " missed " + std::to_string(device.missed) +
                        " restarts " + std::to_string(device.restarts));
    }
    facts.push_back("TS 12 " + main.GridTs->getCellText(1, 12));
    facts.push_back("TI 3 " + main.GridTi->getCellText(1, 3));
    return facts;
}

class ReplayMonitor : public ::testing::Test {
protected:
    ReplayMonitor() { writeScript(m_folder + "/site.pcap"); }

    /// The windows and the session as main() builds them for --replay of the script.
    struct Replay {
        explicit Replay(const std::string& file, std::uint16_t busPort = kBusPort)
            : source({file}, {}, busPort) {
            MonitorSettings settings;
            settings.replayOf = source.name;
            main = std::make_unique<TFMain>(settings, source.clock.localClock(), kFormat,
                                            recorder.dialogs(), source.clock.elapsedClock(),
                                            source.clock.epochClock());
            trace = std::make_unique<TFTrace>([this] { return main->arrivalTime(); }, kFormat,
                                              recorder.dialogs());
            main->setTraceWindow(trace.get());
            trace->show();
            session = std::make_unique<ReplaySession>(source, *main);
        }
        ~Replay() {
            session.reset();
            main.reset();
        }
        ReplayEngine& engine() { return session->player().engine(); }

        static inline const FormatSettings kFormat{".", ":"};
        ReplaySource source;
        test::DialogRecorder recorder;
        std::unique_ptr<TFMain> main;
        std::unique_ptr<TFTrace> trace;
        std::unique_ptr<ReplaySession> session;
    };

    std::string capturePath() const { return m_folder + "/site.pcap"; }

    test::ScratchDirectory m_scratch;
    const std::string m_folder = m_scratch.path();
};

TEST_F(ReplayMonitor, ARecordingReplaysToTheCountsAndValuesTheLiveMonitorShowed) {
    BusRecording recording({});
    recording.setFolder(m_folder);
    recording.start();
    const std::string path = recording.status().path;
    Bytes badMagic = sequencedDatagram(1, 0x000102, 3, kClassTs, 2, {0, 0, 1});
    badMagic[1] = 0xCF;
    // What the endpoint discards (empty, longer than its buffer) and the reception drops.
    const std::vector<Bytes> dropped{Bytes{}, Bytes(kMaxDatagramSize + 60, 0xAB), badMagic,
                                     Bytes{kMagic0, kMagic1, 1},
                                     sequencedDatagram(99, 0x000102, 1, kClassTs, 2, {0, 0})};
    const std::vector<Bytes> reports{
        sequencedDatagram(16, 0x0A003C, 1, kClassTs, 2, {12, 0, 0x07}),
        sequencedDatagram(1, 0x001122, 1, kClassTi, 2, {3, 0, 0, 0, 0, 0xC0, 0x3F}),
        sequencedDatagram(1, 0x001122, 4, kClassTi, 2, {3, 0, 0, 0, 0, 0x00, 0x40}),  // a gap
        sequencedDatagram(16, 0x0A003C, 0, kClassTs, 2, {12, 0, 0x01}),               // restart
    };
    const std::size_t sent = dropped.size() + reports.size();
    std::vector<std::string> shownLive;
    std::uint16_t busPort = 0;  // the test's monitor listens on a port of its own
    {
        test::Monitor live;
        live.main->recordBus(recording);
        busPort = static_cast<std::uint16_t>(live.busPort());
        test::LoopbackUdpSocket sender;
        for (const Bytes& datagram : dropped) {
            sender.sendTo(live.busPort(), datagram);
        }
        ASSERT_TRUE(live.sendAndWait(reports, 4));
        ASSERT_TRUE(test::processEventsUntil([&] { return recording.status().written == sent; }));
        live.main->TimerSyncTimer();
        shownLive = countsAndValues(*live.main);
    }
    recording.stop();
    ASSERT_TRUE(
        test::processEventsUntil([&] { return test::readPcap(path).records.size() == sent; }));

    Replay replay(path, busPort);
    replay.engine().seek(replay.engine().endMicros());
    EXPECT_EQ(countsAndValues(*replay.main), shownLive);
    EXPECT_NE(std::find(shownLive.begin(), shownLive.end(), "too long 1 127.0.0.1"),
              shownLive.end())
        << "the oversized datagram, recorded cut to the buffer, counts as too long";
}

TEST_F(ReplayMonitor, OpensNoEndpointAndOffersNoCommands) {
    Replay replay(capturePath());
    TFMain& main = *replay.main;
    EXPECT_FALSE(main.UdpServer.isActive());
    EXPECT_FALSE(main.TimerSync->isActive()) << "the refresh follows the capture";
    EXPECT_TRUE(replay.recorder.errors.empty());
    EXPECT_EQ(main.windowTitle(), "Келта 2 QV-LINK — воспроизведение: site.pcap");
    for (QPushButton* command : {main.BSendReprog, main.BSetDeviceIpAddr}) {
        EXPECT_FALSE(command->isEnabled());
        EXPECT_TRUE(command->toolTip().contains("воспроизведении"))
            << command->toolTip().toStdString();
        EXPECT_EQ(command->text().isEmpty(), false);
    }
    EXPECT_EQ(main.BSendReprog->text(), "Режим обновления ПО");
}

TEST_F(ReplayMonitor, TablesTraceAndAgesShowTheCaptureAsItWasThen) {
    Replay replay(capturePath());
    TFMain& main = *replay.main;
    replay.engine().seek(kStartUs + 60 * kSecond + 500'000);

    EXPECT_EQ(main.GridDevices->getCellText(1, 1), "Ларта-К");
    EXPECT_EQ(main.GridDevices->getCellText(3, 1), "10.0.0.12");
    EXPECT_EQ(main.GridDevices->getCellText(3, 2), "10.0.0.13");
    EXPECT_EQ(main.GridTs->getCellText(1, 12), "авария");
    EXPECT_EQ(main.GridTi->getCellText(1, 3), "6.50")
        << "the value of 50.5 s; that of 60.5 s shows at the next refresh";
    EXPECT_EQ(main.GridDevices->getCellText(4, 1), "59") << "60 refreshes since its datagram";
    EXPECT_NE(main.GridDevices->cellAppearance(0, 1).text, kGrey);

    replay.engine().seek(kStartUs + 61 * kSecond);
    EXPECT_EQ(main.GridDevices->getCellText(4, 1), "01:00");
    EXPECT_EQ(main.GridDevices->cellAppearance(0, 1).text, kGrey) << "silent for a minute";
    EXPECT_EQ(main.GridTs->cellAppearance(1, 12).text, kGrey);
    EXPECT_NE(main.GridDevices->cellAppearance(0, 2).text, kGrey);

    // The trace shows capture times: the first record at the start, the last at 60.5 s.
    const GridView& trace = *replay.trace->GridTrace;
    ASSERT_EQ(trace.RowCount() - 2, 8);
    std::vector<std::string> times;
    for (int row = 1; row <= 8; ++row) {
        times.push_back(trace.getCellText(kTraceTime, row));
    }
    const FormatSettings format{".", ":"};
    EXPECT_NE(std::find(times.begin(), times.end(), timeOfDayText(localTimeOf(kStartUs), format)),
              times.end());
    EXPECT_NE(std::find(times.begin(), times.end(),
                        timeOfDayText(localTimeOf(kStartUs + 60'500'000), format)),
              times.end());
}

TEST_F(ReplayMonitor, SeekingBackRebuildsTheStateOfAStraightRun) {
    Replay straight(capturePath());
    straight.engine().seek(kStartUs + 75 * kSecond);
    const std::vector<std::string> expected = shownState(*straight.main, *straight.trace);

    Replay wandering(capturePath());
    wandering.engine().seek(wandering.engine().endMicros());
    wandering.engine().seek(kStartUs + 20 * kSecond);
    EXPECT_EQ(wandering.main->registry().deviceCount(), 2);
    EXPECT_EQ(wandering.main->statistics().acceptedCount(), 3U) << "counted from the start";
    wandering.engine().seek(kStartUs + 75 * kSecond);
    EXPECT_EQ(shownState(*wandering.main, *wandering.trace), expected);
}

TEST_F(ReplayMonitor, ControlsStepPlayChangeSpeedAndSeek) {
    Replay replay(capturePath());
    const ReplayEngine& engine = replay.engine();
    ReplayControls controls(replay.session->player(), FormatSettings{".", ":"});
    EXPECT_EQ(controls.BPlay->text(), "Пуск");
    EXPECT_EQ(controls.SPosition->maximum(), 101) << "the capture's seconds";

    controls.BStep->click();
    EXPECT_EQ(engine.deliveredCount(), 1U);
    EXPECT_EQ(controls.LDatagrams->text(), "Пакетов: 1 из 12");

    controls.CSpeed->setCurrentIndex(1);
    emit controls.CSpeed->activated(1);
    EXPECT_EQ(engine.speed(), 10);
    controls.BPlay->click();
    EXPECT_TRUE(engine.isPlaying());
    EXPECT_EQ(controls.BPlay->text(), "Пауза");
    EXPECT_FALSE(controls.BStep->isEnabled()) << "steps only while paused";
    controls.BPlay->click();
    EXPECT_FALSE(engine.isPlaying());

    controls.SPosition->setSliderDown(true);
    controls.SPosition->setValue(61);
    controls.SPosition->setSliderDown(false);
    EXPECT_EQ(engine.positionMicros(), kStartUs + 61 * kSecond);
    EXPECT_TRUE(controls.LPosition->text().endsWith("(01:01 из 01:41)"))
        << controls.LPosition->text().toStdString();
    EXPECT_EQ(replay.main->GridDevices->getCellText(4, 1), "01:00");
}

/// What a replay left in its history file: TI 3's samples and device 1's events.
struct StoredHistory {
    std::vector<TrendSample> ti;
    std::vector<std::string> events;
    bool operator==(const StoredHistory&) const = default;
};

StoredHistory storedHistory(const std::string& path) {
    HistoryReader reader(path);
    const TimeSpan all{kStartUs - kSecond, kStartUs + 200 * kSecond};
    StoredHistory stored;
    stored.ti = reader.readPoint({PointKind::Ti, 3}, all, 10'000).samples;
    for (const StoredDeviceEvent& event : reader.deviceEvents({"FA:CE:10:0A:00:3C"}, all)) {
        stored.events.push_back(event.kind + "@" + std::to_string(event.timeUs));
    }
    return stored;
}

// History written at capture times, and what a seek back passes again is not stored twice.
TEST_F(ReplayMonitor, HistoryHoldsCaptureTimesOnceWhereverTheReplayWent) {
    const auto replayInto = [this](const std::string& history, bool wander) {
        Replay replay(capturePath());
        HistoryOptions options;
        options.path = history;
        options.clock = replay.source.clock.epochClock();
        {
            HistoryRecorder recorder(options, [](const std::string&, bool) {});
            replay.main->recordHistory(recorder);
            if (wander) {
                replay.engine().seek(kStartUs + 90 * kSecond);
                replay.engine().seek(kStartUs + 30 * kSecond);
            }
            replay.engine().seek(replay.engine().endMicros());
        }
        return storedHistory(history);
    };
    const StoredHistory straight = replayInto(m_folder + "/straight.sqlite3", false);
    const StoredHistory wandering = replayInto(m_folder + "/wandering.sqlite3", true);

    ASSERT_EQ(straight.ti.size(), 11U);
    // TI values are kept per second of reception.
    EXPECT_EQ(straight.ti.front(), (TrendSample{kStartUs, 1.5}));
    EXPECT_EQ(straight.ti.back(), (TrendSample{kStartUs + 100 * kSecond, 11.5}));
    EXPECT_FALSE(straight.events.empty());
    EXPECT_EQ(wandering, straight);
}

TEST_F(ReplayMonitor, AnOpenTrendGetsEachValueOnceWhereverTheReplayWent) {
    const auto trendAfter = [this](bool wander) {
        Replay replay(capturePath());
        replay.main->openTrend(PointKind::Ti, 3);
        if (wander) {
            replay.engine().seek(kStartUs + 90 * kSecond);
            replay.engine().seek(kStartUs + 30 * kSecond);
        }
        replay.engine().seek(replay.engine().endMicros());
        return replay.main->trendWindow()->series().front()->samples();
    };
    const std::vector<TrendSample> straight = trendAfter(false);
    ASSERT_EQ(straight.size(), 11U);
    EXPECT_EQ(straight.back(), (TrendSample{kStartUs + 100 * kSecond + 500'000, 11.5}));
    EXPECT_EQ(trendAfter(true), straight);
}

TEST_F(ReplayMonitor, AsFastAsPossibleTheEventLoopPlaysTheCaptureToItsEnd) {
    Replay replay(capturePath());
    ReplayPlayer& player = replay.session->player();
    player.setSpeed(ReplayEngine::kAsFastAsPossible);
    player.play();
    ASSERT_TRUE(test::processEventsUntil([&] { return replay.engine().atEnd(); }));
    EXPECT_FALSE(replay.engine().isPlaying());
    EXPECT_EQ(replay.main->statistics().acceptedCount(), 12U);
    EXPECT_EQ(replay.main->GridTi->getCellText(1, 3), "11.50") << "the end shows the last";
}

}  // namespace
}  // namespace qvlink
