#include <gtest/gtest.h>

#include <QPushButton>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/monitor_fixture.h"
#include "net/test_http_server.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::LoopbackUdpSocket;
using test::Monitor;
using test::sequencedDatagram;
using test::TestHttpServer;

const QString kIpPrompt = "Введите устанавливаемый IP-адрес устройства";

/// A monitor whose commands go to loopback test peers, with one device selected.
class DeviceCommandsTest : public ::testing::Test {
protected:
    static MonitorSettings settingsFor(int commandPort, int httpPort) {
        MonitorSettings settings = Monitor::ephemeralSettings();
        settings.commandHost = "127.0.0.1";
        settings.commandPort = commandPort;
        settings.httpPort = httpPort;
        return settings;
    }

    void SetUp() override {
        monitor.main->setNoticeSink([this](const std::string& text, bool needsAttention) {
            notices.push_back({text, needsAttention});
        });
        ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 0x001122, 0, kClassTu, 0, {0})}, 1,
                                        "127.0.0.1"));
        monitor.main->GridDevicesClickCell(1, 0);
        ASSERT_EQ(monitor.main->GridInfo->getCellText(1, 1), "127.0.0.1");
    }

    /// Clicks "Режим обновления ПО" and runs the GUI thread until the post has ended.
    bool postFirmwareUpdate() {
        monitor.main->BSendReprogClick();
        return test::processEventsUntil([&] { return monitor.main->BSendReprog->isEnabled(); });
    }

    /// Moves the monitor's clock to `ms` and runs its once-a-second refresh.
    void tickAt(std::int64_t ms) {
        monitor.elapsedMs = ms;
        monitor.main->TimerSyncTimer();
    }

    using Notice = std::pair<std::string, bool>;
    /// One notice that asks for the user's attention.
    static std::vector<Notice> attention(const std::string& text) { return {{text, true}}; }

    LoopbackUdpSocket deviceSide;
    TestHttpServer http;
    Monitor monitor{settingsFor(deviceSide.port(), http.port())};
    std::vector<Notice> notices;
};

TEST_F(DeviceCommandsTest, ChangeIpSendsTheFramedCommandWithConsecutiveSequenceNumbers) {
    monitor.recorder.inputAnswer = "10.0.0.5";
    monitor.main->BSetDeviceIpAddrClick();
    monitor.main->BSetDeviceIpAddrClick();

    ASSERT_EQ(monitor.recorder.prompts.size(), 2U);
    EXPECT_EQ(monitor.recorder.prompts[0], kIpPrompt);
    const std::string body = "FA:CE:01:00:11:22 10.0.0.5";
    for (std::uint8_t seq : {0, 1}) {
        const auto datagram = deviceSide.receive();
        ASSERT_TRUE(datagram.has_value());
        ASSERT_EQ(datagram->size(), 42U);
        std::vector<std::uint8_t> expected{0xFA, 0xCE, 0, 0, 0, 0, seq, kClassText, kSubtypeSetIp};
        expected.insert(expected.end(), body.begin(), body.end());
        expected.resize(42, 0);
        EXPECT_EQ(*datagram, expected);
    }
    EXPECT_TRUE(monitor.recorder.errors.empty());
}

TEST_F(DeviceCommandsTest, ChangeIpSendsNothingForCancelUnchangedEmptyOrOversizedText) {
    const struct {
        const char* name;
        bool cancel;
        QString answer;
        bool refused;
    } cases[] = {
        {"cancel", true, "10.0.0.9", false},
        {"unchanged", false, "127.0.0.1", false},
        {"empty", false, "", false},
        {"too long for one datagram", false, QString(207, u'1'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        monitor.recorder.errors.clear();
        monitor.recorder.cancelInput = c.cancel;
        monitor.recorder.inputAnswer = c.answer;
        monitor.main->BSetDeviceIpAddrClick();
        EXPECT_FALSE(deviceSide.receive(200).has_value());
        EXPECT_EQ(monitor.recorder.errors.size(), c.refused ? 1U : 0U);
    }
    // The longest address that fits still goes out.
    monitor.recorder.cancelInput = false;
    monitor.recorder.inputAnswer = QString(206, u'1');
    monitor.main->BSetDeviceIpAddrClick();
    const auto datagram = deviceSide.receive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->size(), kMaxDatagramSize);
}

TEST_F(DeviceCommandsTest, ChangeIpOutcomeGoesToTheEventLogWhenTheDeviceAnswersOrNot) {
    monitor.recorder.inputAnswer = "127.0.0.2";
    monitor.elapsedMs = 1000;
    monitor.main->BSetDeviceIpAddrClick();
    ASSERT_TRUE(deviceSide.receive().has_value());
    tickAt(3000);
    EXPECT_TRUE(notices.empty()) << "still waiting";
    monitor.elapsedMs = 3300;
    ASSERT_TRUE(
        monitor.sendAndWait({sequencedDatagram(1, 0x001122, 1, kClassTu, 0, {0})}, 2, "127.0.0.2"));
    EXPECT_EQ(notices, attention("FA:CE:01:00:11:22 отвечает с 127.0.0.2 через 2.3 с"));

    notices.clear();
    monitor.recorder.inputAnswer = "127.0.0.3";
    monitor.main->BSetDeviceIpAddrClick();
    ASSERT_TRUE(deviceSide.receive().has_value());
    tickAt(33299);
    EXPECT_TRUE(notices.empty());
    tickAt(33300);
    EXPECT_EQ(notices, attention("FA:CE:01:00:11:22 не появился с адресом 127.0.0.3 за 30 с"));
    EXPECT_TRUE(monitor.recorder.infos.empty()) << "no box of its own";
    EXPECT_TRUE(monitor.recorder.errors.empty());
}

TEST_F(DeviceCommandsTest, FirmwareModeOutcomeIsTheRestartOrTheSilenceOfTheDevice) {
    ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 0x001122, 40, kClassTu, 0, {0})}, 2));
    http.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    ASSERT_TRUE(postFirmwareUpdate());
    http.request();
    EXPECT_EQ(monitor.recorder.infos.size(), 1U) << "the box as before";
    monitor.elapsedMs = 6200;
    ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 0x001122, 0, kClassTu, 0, {0})}, 3));
    EXPECT_EQ(notices, attention("FA:CE:01:00:11:22 перезапустился через 6.2 с после "
                                 "команды обновления ПО"));

    notices.clear();
    http.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    ASSERT_TRUE(postFirmwareUpdate());
    http.request();
    for (std::int64_t ms = 7200; ms < 36200; ms += 1000) {
        tickAt(ms);
    }
    EXPECT_TRUE(notices.empty());
    tickAt(36200);
    EXPECT_EQ(notices, attention("FA:CE:01:00:11:22 молчит 30 с после команды обновления ПО"));
}

TEST_F(DeviceCommandsTest, FirmwareUpdatePostsTheFormAndConfirmsOnlyAfterTheAnswer) {
    http.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    ASSERT_TRUE(postFirmwareUpdate());
    const std::string request = http.request();

    EXPECT_EQ(request,
              "POST / HTTP/1.0\r\n"
              "Host: 127.0.0.1\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
              "Content-Length: 11\r\n"
              "\r\n"
              "reprog={}\r\n");
    ASSERT_EQ(monitor.recorder.infos.size(), 1U);
    EXPECT_EQ(monitor.recorder.infos[0], "Команда входа в режим обновления программы выдана");
    EXPECT_TRUE(monitor.recorder.errors.empty());
}

TEST_F(DeviceCommandsTest, FirmwareUpdateFailuresShowTheirMessageAndKeepTheSelection) {
    http.serve(TestHttpServer::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
    ASSERT_TRUE(postFirmwareUpdate());
    http.request();
    ASSERT_EQ(monitor.recorder.errors.size(), 1U);
    EXPECT_EQ(monitor.recorder.errors[0], "404 Not Found.");
    EXPECT_TRUE(monitor.recorder.infos.empty());
    EXPECT_EQ(monitor.main->selectionKind(), SelectionKind::Device);
    tickAt(60000);
    EXPECT_TRUE(notices.empty()) << "a refused request is not watched";
}

TEST_F(DeviceCommandsTest, WhileThePostWaitsTheCommandsAreOffAndTheWindowGoesOn) {
    std::atomic<bool> released{false};
    http.serve([&](int) {
        while (!released) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    TFMain& window = *monitor.main;
    window.BSendReprogClick();
    window.BSendReprogClick();  // a second click while one runs starts nothing

    EXPECT_FALSE(window.BSendReprog->isEnabled());
    EXPECT_FALSE(window.BSetDeviceIpAddr->isEnabled());
    EXPECT_EQ(window.cursor().shape(), Qt::BusyCursor);
    EXPECT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 0x001122, 1, kClassTu, 0, {0})}, 2));
    EXPECT_TRUE(monitor.recorder.infos.empty());

    released = true;
    ASSERT_TRUE(test::processEventsUntil([&] { return !monitor.recorder.errors.empty(); }));
    EXPECT_EQ(monitor.recorder.errors, std::vector<QString>{"Connection Closed Gracefully."});
    EXPECT_TRUE(window.BSendReprog->isEnabled());
    EXPECT_TRUE(window.BSetDeviceIpAddr->isEnabled());
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(http.hasPendingConnection()) << "one post, not two";
}

TEST_F(DeviceCommandsTest, ClosingTheWindowCancelsAPostToASilentDeviceAtOnce) {
    std::atomic<bool> requestRead{false};
    http.serve([&](int connection) {
        requestRead = true;
        TestHttpServer::waitForClientClose(connection);
    });
    monitor.main->BSendReprogClick();
    ASSERT_FALSE(monitor.main->BSendReprog->isEnabled());
    ASSERT_TRUE(test::processEventsUntil([&] { return requestRead.load(); }));

    const auto started = std::chrono::steady_clock::now();
    monitor.main->close();
    monitor.main.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    test::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_TRUE(monitor.recorder.errors.empty()) << "a cancelled post shows nothing";
    EXPECT_TRUE(monitor.recorder.infos.empty());
}

TEST(DeviceCommands, RefusedConnectionShowsTheSocketError) {
    int closedPort = 0;
    {
        TestHttpServer closedSoon;  // bind a port, then free it so nothing listens there
        closedPort = closedSoon.port();
    }
    MonitorSettings settings = Monitor::ephemeralSettings();
    settings.httpPort = closedPort;
    Monitor monitor(settings);
    ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 1, 0, kClassTu, 0, {0})}, 1));
    monitor.main->GridDevicesClickCell(1, 0);
    monitor.main->BSendReprogClick();
    ASSERT_TRUE(test::processEventsUntil([&] { return !monitor.recorder.errors.empty(); }));
    ASSERT_EQ(monitor.recorder.errors.size(), 1U);
    EXPECT_EQ(monitor.recorder.errors[0], "Socket Error # 10061\r\nConnection refused.");
    EXPECT_TRUE(monitor.recorder.infos.empty());
}

}  // namespace
}  // namespace qvlink
