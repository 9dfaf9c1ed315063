// A monitor that watches a bus through a real broker, against one that is on the bus: the
// datagrams are published as raw records by a link of the test, as a bridge would.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QPushButton>
#include <thread>

#include "app/monitor_fixture.h"
#include "app/qt_dispatcher.h"
#include "busstats/statistics_table.h"
#include "capture_file/frame_decoder.h"
#include "capture_file/udp_frame.h"
#include "common/rendering.h"
#include "mqtt/mqtt_link.h"
#include "mqtt/raw_records.h"
#include "process/child_process.h"
#include "recording/bus_recording.h"
#include "remote/remote_bus_source.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_link_probe.h"
#include "support/packet_builder.h"
#include "support/pcap_records.h"
#include "support/scratch_folder.h"

namespace qvlink {
namespace {

using test::LinkProbe;
using test::Monitor;
using test::MosquittoBroker;
using test::processEventsUntil;
using test::sequencedDatagram;
using Bytes = std::vector<std::uint8_t>;

/// 2021-03-04 05:06:07.089 UTC, far from the monitor's own clock.
constexpr std::uint64_t kCaptureMicros = 1614834367089000;
constexpr std::uint32_t kLoopbackSender = 0x7F000001;

/// Simulator-like traffic: devices of several types, a gap, a restart, and one datagram of
/// each kind the reception drops.
std::vector<Bytes> busTraffic() {
    Bytes badMagic = sequencedDatagram(1, 0x000009, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;
    Bytes tooLong = sequencedDatagram(1, 0x00000A, 0, kClassTs, 2, {5, 0, 1});
    tooLong.resize(kMaxDatagramSize + 1);
    return {
        sequencedDatagram(16, 0x0A003C, 1, kClassTs, 2, {12, 0, 0x07}),
        sequencedDatagram(1, 0x001122, 1, kClassTi, 2, {3, 0, 0, 0, 0, 0xC0, 0x3F}),
        sequencedDatagram(1, 0x001122, 4, kClassTi, 2, {3, 0, 0, 0, 0, 0x00, 0x40}),  // gap
        sequencedDatagram(204, 0x000001, kClassOnlyTs, 0, 0, {1}),
        sequencedDatagram(16, 0x0A003C, 0, kClassTs, 2, {12, 0, 0x01}),  // restart
        badMagic,
        Bytes{0xFA, 0xCE, 1, 0, 0, 3, 5, 2, 3},                     // too short
        sequencedDatagram(2, 0x000004, 0, kClassTs, 2, {5, 0, 1}),  // unknown type
        tooLong,
        sequencedDatagram(1, 0x001122, 5, kClassTs, 2, {7, 0, 0x01}),
    };
}
constexpr std::uint32_t kAcceptedInTraffic = 6;

/// Raw records of `datagrams` from the loopback sender, `perMessage` to a message.
std::vector<Bytes> rawMessages(const std::vector<Bytes>& datagrams, std::size_t perMessage) {
    std::vector<Bytes> messages;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        if (i % perMessage == 0) {
            messages.emplace_back();
        }
        appendRawRecord(messages.back(), {kCaptureMicros + i, kLoopbackSender, 973, datagrams[i]});
    }
    return messages;
}

MqttEndpoint endpointOf(const std::string& url) {
    MqttEndpoint endpoint;
    endpoint.url = std::get<MqttUrl>(parseMqttUrl(url));
    return endpoint;
}

MonitorSettings remoteSettings(const MqttEndpoint& endpoint) {
    MonitorSettings settings = Monitor::ephemeralSettings();
    settings.remoteSource = endpoint.url.text();
    return settings;
}

/// A monitor fed by a broker, and the test's own link that publishes to it.
class RemoteWatching : public testing::Test {
protected:
    void SetUp() override {
        QVLINK_SKIP_WITHOUT_MOSQUITTO();
        broker = std::make_unique<MosquittoBroker>();
        endpoint = endpointOf(broker->url("qvlink/site-7"));
        MqttLinkSettings quick;
        quick.reconnectMax = std::chrono::seconds(1);
        publisher = std::make_unique<MqttLink>(endpoint, quick, publisherProbe.callbacks());
        publisher->start();
        ASSERT_TRUE(publisherProbe.waitForLink(true));
        // The trace shows the arrival time, as in the program.
        remote = std::make_unique<Monitor>(remoteSettings(endpoint),
                                           [this] { return remote->main->arrivalTime(); });
        remote->trace->show();
    }

    void TearDown() override {
        source.reset();
        remote.reset();
    }

    void startSource(std::size_t maxQueuedBytes = RemoteBusSource::kMaxQueuedBytes) {
        source = std::make_unique<RemoteBusSource>(
            endpoint, dispatcher,
            [this](const RawRecord& record) { remote->main->receiveDatagram(record); },
            [this](const std::string& text, bool needsAttention) {
                notices.emplace_back(text, needsAttention);
            },
            maxQueuedBytes);
        source->start();
        ASSERT_TRUE(waitForNotice("установлена"));
        confirmSubscription();
    }

    bool waitForNotice(const std::string& part) {
        return processEventsUntil([&] {
            return std::any_of(notices.begin(), notices.end(), [&](const auto& notice) {
                return notice.first.find(part) != std::string::npos;
            });
        });
    }

    /// Publishes empty messages until the monitor has seen one: from then on its
    /// subscription is in force at the broker. They touch no table or statistics.
    void confirmSubscription() {
        const std::uint64_t before = source->faultyMessages(RawMessageFault::Empty);
        for (int round = 0; round < 50; ++round) {
            publisher->publish(endpoint.url.topic("raw"), Bytes{}, 0, false);
            if (processEventsUntil(
                    [&] { return source->faultyMessages(RawMessageFault::Empty) > before; },
                    std::chrono::milliseconds(100))) {
                return;
            }
        }
        FAIL() << "the monitor's subscription never took effect";
    }

    void publish(const std::vector<Bytes>& messages, int qos = 0) {
        for (const Bytes& message : messages) {
            ASSERT_TRUE(publisher->publish(endpoint.url.topic("raw"), message, qos, false));
        }
    }

    bool countedBy(std::uint32_t total) {
        return processEventsUntil([&] { return remote->totalDatagrams() >= total; }) &&
               remote->totalDatagrams() == total;
    }

    std::unique_ptr<MosquittoBroker> broker;
    MqttEndpoint endpoint;
    LinkProbe publisherProbe;
    std::unique_ptr<MqttLink> publisher;
    QtDispatcher dispatcher;
    std::unique_ptr<Monitor> remote;
    std::unique_ptr<RemoteBusSource> source;
    std::vector<std::pair<std::string, bool>> notices;
};

std::vector<std::string> gridTexts(const GridView& grid) {
    std::vector<std::string> texts;
    for (int row = 0; row < grid.RowCount(); ++row) {
        for (int col = 0; col < grid.ColCount(); ++col) {
            texts.push_back(grid.getCellText(col, row));
        }
    }
    return texts;
}

/// `remote` shows what `local` shows: the tables, and the statistics per device, of the mix
/// and of the drops.
void expectSameViews(Monitor& remote, Monitor& local) {
    local.main->TimerSyncTimer();
    remote.main->TimerSyncTimer();
    EXPECT_EQ(gridTexts(*remote.main->GridDevices), gridTexts(*local.main->GridDevices));
    EXPECT_EQ(gridTexts(*remote.main->GridTs), gridTexts(*local.main->GridTs));
    EXPECT_EQ(gridTexts(*remote.main->GridTi), gridTexts(*local.main->GridTi));
    const FormatSettings format{".", ":"};
    const auto language = StatisticsLanguage::English;
    EXPECT_EQ(deviceRows(remote.main->statistics(), 0, format, language),
              deviceRows(local.main->statistics(), 0, format, language));
    EXPECT_EQ(mixRows(remote.main->statistics(), language),
              mixRows(local.main->statistics(), language));
    EXPECT_EQ(dropRows(remote.main->statistics(), true, language),
              dropRows(local.main->statistics(), true, language));
}

TEST_F(RemoteWatching, ShowsTheSameTablesAndStatisticsAsAMonitorOnTheBus) {
    Monitor local;
    ASSERT_TRUE(local.sendAndWait(busTraffic(), kAcceptedInTraffic));
    startSource();
    publish(rawMessages(busTraffic(), 4));
    ASSERT_TRUE(countedBy(kAcceptedInTraffic));

    expectSameViews(*remote, local);
    const auto drops = dropRows(remote->main->statistics(), true, StatisticsLanguage::English);
    EXPECT_EQ(
        std::count_if(drops.begin(), drops.end(), [](const auto& row) { return row.count == 1; }),
        4);
}

TEST_F(RemoteWatching, ABridgeOnSimulatorTrafficGivesWhatAMonitorOnTheBusShows) {
    Monitor local;
    const std::string busPort = std::to_string(local.busPort());
    ChildProcess bridge({QVLINK_DUMP_BINARY, "-i", "lo", "-p", busPort, "-q", "--mqtt",
                         endpoint.url.text(), "--mqtt-raw"});
    const bool publishing = bridge.waitFor(
        [](const std::string&, const std::string& err) {
            return err.find("permission denied") != std::string::npos ||
                   (err.find("capturing on lo") != std::string::npos &&
                    err.find("connected to broker") != std::string::npos);
        },
        std::chrono::seconds(30));
    if (bridge.err().find("permission denied") != std::string::npos) {
        GTEST_SKIP() << "no right to capture on lo (needs root or cap_net_raw)";
    }
    ASSERT_TRUE(publishing) << bridge.err();
    startSource();

    // Devices of every type with gaps, restarts and malformed datagrams, for two seconds.
    ChildProcess sim({QVLINK_SIM_BINARY,
                      "--target",
                      "127.0.0.1",
                      "--port",
                      busPort,
                      "-n",
                      "12",
                      "--rate",
                      "400",
                      "--duration",
                      "2",
                      "--loss",
                      "0.05",
                      "--restart-every",
                      "1",
                      "--malformed",
                      "--malformed-every",
                      "0.3",
                      "--listen",
                      "off",
                      "--base-ip",
                      "127.0.78.1",
                      "--http-port",
                      std::to_string(test::freeLoopbackTcpPort())});
    ASSERT_TRUE(processEventsUntil([&] { return sim.finished(); }, std::chrono::seconds(30)));
    ASSERT_EQ(sim.wait(), 0) << sim.err();
    ASSERT_TRUE(processEventsUntil([&] {
        return local.totalDatagrams() > 400 && remote->totalDatagrams() == local.totalDatagrams();
    })) << "local "
        << local.totalDatagrams() << ", remote " << remote->totalDatagrams();

    expectSameViews(*remote, local);
    const auto drops = dropRows(remote->main->statistics(), true, StatisticsLanguage::English);
    EXPECT_TRUE(std::any_of(drops.begin(), drops.end(), [](const auto& row) {
        return row.count > 0;
    })) << "the malformed datagrams are counted";
}

TEST_F(RemoteWatching, TraceShowsCaptureTimesAndTheWindowNamesItsSource) {
    startSource();
    const Bytes datagram = sequencedDatagram(1, 0x001122, 1, kClassTs, 2, {7, 0, 0x01});
    Bytes message;
    appendRawRecord(message, {kCaptureMicros, 0x0A000005, 973, datagram});
    publish({message});
    ASSERT_TRUE(countedBy(1));

    const GridView& trace = *remote->trace->GridTrace;
    const int row = trace.RowCount() - 2;
    EXPECT_EQ(trace.getCellText(kTraceTime, row),
              timeOfDayText(localTimeOf(kCaptureMicros), FormatSettings{".", ":"}));
    EXPECT_EQ(trace.getCellText(kTraceIp, row), "10.0.0.5");

    TFMain& window = *remote->main;
    EXPECT_EQ(
        window.windowTitle().toStdString(),
        "Келта 2 QV-LINK — mqtt://127.0.0.1:" + std::to_string(broker->port()) + "/qvlink/site-7");
    EXPECT_FALSE(window.UdpServer.isActive());
    for (const QPushButton* button : {window.BSendReprog, window.BSetDeviceIpAddr}) {
        EXPECT_FALSE(button->isEnabled());
        EXPECT_TRUE(button->toolTip().contains(QStringLiteral("брокер MQTT")));
    }
}

TEST_F(RemoteWatching, ARecordingKeepsEachDatagramWithItsSenderAndCaptureTime) {
    test::ScratchDirectory folder;
    BusRecording recording({});
    recording.setFolder(folder.path());
    recording.start();
    const std::string path = recording.status().path;
    remote->main->recordBus(recording);
    startSource();
    const std::vector<Bytes> traffic = busTraffic();
    publish(rawMessages(traffic, 4));
    ASSERT_TRUE(processEventsUntil([&] { return recording.status().written == traffic.size(); }))
        << recording.status().written;
    recording.stop();
    ASSERT_TRUE(
        processEventsUntil([&] { return test::readPcap(path).records.size() == traffic.size(); }));

    const test::PcapContents file = test::readPcap(path);
    capture::FrameDecoder decoder(capture::LinkType::Ethernet, kBusPort);
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        const test::PcapRecord& record = file.records[i];
        const capture::FrameDatagram found =
            decoder.decode(record.frame.data(), record.frame.size());
        EXPECT_EQ(found.kind, capture::FrameKind::Datagram) << i;
        EXPECT_EQ(found.sourceIp, kLoopbackSender) << i;
        ASSERT_EQ(found.capturedSize, traffic[i].size()) << i;
        EXPECT_TRUE(std::equal(traffic[i].begin(), traffic[i].end(), found.payload)) << i;
        EXPECT_EQ(test::udpSourcePort(record.frame), 973) << i;
        EXPECT_EQ(test::udpDestinationPort(record.frame), kBusPort) << i;
        EXPECT_EQ(record.epochMicros, static_cast<std::int64_t>(kCaptureMicros + i)) << i;
    }
}

TEST_F(RemoteWatching, BrokerLossIsLoggedAndReceptionResumesAfterItsReturn) {
    startSource();
    const auto datagram = [](std::uint8_t seq) {
        Bytes message;
        appendRawRecord(message, {kCaptureMicros, kLoopbackSender, 973,
                                  sequencedDatagram(1, 7, seq, kClassTs, 2, {9, 0, 0x01})});
        return message;
    };
    publish({datagram(0)});
    ASSERT_TRUE(countedBy(1));

    broker->kill();
    ASSERT_TRUE(waitForNotice("Нет связи с брокером MQTT"));
    EXPECT_TRUE(notices.back().second) << "a lost link needs attention";
    broker->start();
    notices.clear();
    ASSERT_TRUE(waitForNotice("установлена"));
    ASSERT_TRUE(publisherProbe.waitForLink(true));
    confirmSubscription();
    publish({datagram(1)});
    ASSERT_TRUE(countedBy(2));
    remote->main->TimerSyncTimer();
    EXPECT_EQ(remote->main->GridDevices->getCellText(4, 1), "0") << "news after the return";
}

TEST_F(RemoteWatching, FaultyMessagesAreReadUpToTheFaultAndReportedOncePerKind) {
    startSource();
    const Bytes good = rawMessages({sequencedDatagram(1, 7, 0, kClassTs, 2, {9, 0, 0x01})}, 1)[0];
    Bytes goodThenUnknown = good;
    goodThenUnknown.push_back(2);
    Bytes truncated = good;
    truncated.resize(truncated.size() - 1);
    const Bytes oversize{1, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0, 0, 1, 3, 205, 0xFF, 0xFF};
    const std::uint64_t emptyBefore = source->faultyMessages(RawMessageFault::Empty);
    publish({goodThenUnknown, Bytes{2, 1, 2}, truncated, oversize, Bytes{}}, 1);
    ASSERT_TRUE(processEventsUntil(
        [&] { return source->faultyMessages(RawMessageFault::Empty) == emptyBefore + 1; }));
    EXPECT_EQ(source->faultyMessages(RawMessageFault::UnknownVersion), 2u);
    EXPECT_EQ(source->faultyMessages(RawMessageFault::TruncatedBody), 1u);
    EXPECT_EQ(source->faultyMessages(RawMessageFault::OversizeLength), 1u);
    EXPECT_EQ(remote->totalDatagrams(), 1u) << "the record before the fault counts";
    const auto faultNotices = std::count_if(notices.begin(), notices.end(), [](const auto& n) {
        return n.first.find("Искажённое сообщение") != std::string::npos;
    });
    EXPECT_EQ(faultNotices, 4) << "one per kind: empty, unknown version, truncated, oversize";
}

TEST_F(RemoteWatching, AFullQueueDropsMessagesAndSaysSoOnce) {
    startSource(200);
    const Bytes message =
        rawMessages({sequencedDatagram(1, 7, 0, kClassTs, 2, {9, 0, 0x01})}, 1)[0];
    // The GUI thread takes nothing meanwhile: the queue fills up.
    publish(std::vector<Bytes>(40, message), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (source->droppedMessages() < 30 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(source->droppedMessages(), 30u);
    ASSERT_TRUE(waitForNotice("отброшено сообщений"));
    // The last messages may still be on their way from the broker.
    EXPECT_TRUE(processEventsUntil([&] {
        return remote->totalDatagrams() + source->droppedMessages() == 40u;
    })) << remote->totalDatagrams()
        << " handled, " << source->droppedMessages() << " dropped";
}

}  // namespace
}  // namespace qvlink
