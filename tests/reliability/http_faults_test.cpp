// A device that answers the firmware-update post badly, or not at all: the post fails within
// the client's time limits, memory stays bounded, and the window goes on at once.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "app/monitor_fixture.h"
#include "fault_support.h"
#include "net/response_reader.h"
#include "net/test_http_server.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using test::TestHttpServer;

const std::string kTimedOut = "Socket Error # 10060\r\nConnection timed out.";
const std::string kReset = "Socket Error # 10054\r\nConnection reset by peer.";
const std::string kClosed = kConnectionClosedMessage;

/// Sends `piece` over and over until the client has gone, `pause` between sends, for at most
/// 15 s (the device's own bound, so that a client without limits shows as a failed test).
void streamUntilClientLeaves(int connection, const std::string& piece,
                             std::chrono::milliseconds pause) {
    const auto giveUp = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < giveUp &&
           TestHttpServer::sendAll(connection, piece)) {
        std::this_thread::sleep_for(pause);
    }
}

struct HttpFault {
    const char* name;
    TestHttpServer::Answer device;
    ConnectionTimeouts timeouts;
    std::set<std::string> errors;  ///< the error box shows one of these
    std::chrono::milliseconds bound;
};

std::vector<HttpFault> httpFaults() {
    const ConnectionTimeouts shortLimits{.connect = 2s, .idle = 300ms, .answer = 1000ms};
    return {
        {"accepts and never answers",
         [](int connection) { TestHttpServer::waitForClientClose(connection); },
         shortLimits,
         {kTimedOut},
         shortLimits.idle + 700ms},
        {"reset in the middle of the body",
         [](int connection) {
             TestHttpServer::sendAll(
                 connection,
                 "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'b'));
             const linger abort{1, 0};  // the close that follows sends a reset
             setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
         },
         shortLimits,
         {kReset, kClosed},
         shortLimits.idle + 700ms},
        {"endless header line",
         [](int connection) {
             TestHttpServer::sendAll(connection, "HTTP/1.1 200 OK\r\nX-Endless: ");
             streamUntilClientLeaves(connection, std::string(4096, 'a'), 0ms);
         },
         shortLimits,
         {kLineTooLongMessage},
         shortLimits.answer + 700ms},
        {"chunk of 0xFFFFFFFFFFFF bytes",
         [](int connection) {
             TestHttpServer::sendAll(
                 connection,
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n");
             streamUntilClientLeaves(connection, std::string(16384, 'c'), 0ms);
         },
         shortLimits,
         {kTimedOut},
         shortLimits.answer + 700ms},
        {"Content-Length of 10^12 streamed slowly",
         [](int connection) {
             TestHttpServer::sendAll(connection,
                                     "HTTP/1.0 200 OK\r\nContent-Length: 1000000000000\r\n\r\n");
             streamUntilClientLeaves(connection, std::string(1024, 's'), 5ms);
         },
         shortLimits,
         {kTimedOut},
         shortLimits.answer + 700ms},
    };
}

/// A monitor whose "Режим обновления ПО" posts to `httpPort` on 127.0.0.1: a device heard from
/// 127.0.0.1 is selected in the details panel.
std::unique_ptr<test::Monitor> monitorPostingTo(int httpPort) {
    MonitorSettings settings = test::Monitor::ephemeralSettings();
    settings.httpPort = httpPort;
    auto monitor = std::make_unique<test::Monitor>(settings);
    EXPECT_TRUE(monitor->sendAndWait(
        {test::busDatagram(1, 0x000001, 0, kClassTs, kSubtypeCyclic, {1, 0, 1})}, 1));
    monitor->main->GridDevicesClickCell(1, 0);
    EXPECT_EQ(monitor->main->GridInfo->getCellText(kInfoValueColumn, kInfoIpRow), "127.0.0.1");
    return monitor;
}

TEST(HttpFaults, EachFailsThePostWithinItsBoundAndTheWindowGoesOn) {
    for (HttpFault& fault : httpFaults()) {
        SCOPED_TRACE(fault.name);
        TestHttpServer device;
        const std::unique_ptr<test::Monitor> monitor = monitorPostingTo(device.port());
        TFMain& window = *monitor->main;
        window.HttpClient.setTimeouts(fault.timeouts);
        device.serve(std::move(fault.device));

        const std::int64_t residentBefore = test::residentBytes();
        const auto started = std::chrono::steady_clock::now();
        window.BSendReprogClick();
        const auto clickTime = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(test::processEventsUntil([&] { return window.BSendReprog->isEnabled(); },
                                             fault.bound + 1s));
        const auto postTime = std::chrono::steady_clock::now() - started;
        const std::int64_t growth = test::residentBytes() - residentBefore;

        ASSERT_EQ(monitor->recorder.errors.size(), 1U);
        const std::string shown = monitor->recorder.errors[0].toStdString();
        EXPECT_EQ(fault.errors.count(shown), 1U) << shown;
        EXPECT_TRUE(monitor->recorder.infos.empty()) << "a failed post is not confirmed";
        EXPECT_LT(postTime, fault.bound);
        EXPECT_LT(clickTime, 100ms) << "the post runs beside the GUI thread";
        EXPECT_LT(growth, test::kResidentGrowthBound);
        EXPECT_TRUE(device.request().starts_with("POST / HTTP/1.0\r\n")) << "the form went out";
        test::printFigure(
            "http fault '%s': post failed after %.0f ms with '%s', RSS growth %.2f MB, "
            "click returned after %.1f ms",
            fault.name, test::milliseconds(postTime), shown.substr(shown.rfind('\n') + 1).c_str(),
            test::megabytes(growth), test::milliseconds(clickTime));
    }
}

/// A device that takes the post and never answers, while the bus carries 1,000 datagrams a
/// second: every one is counted while the post still waits, and the post then fails as before.
TEST(HttpFaults, ReceptionGoesOnDuringAPostToASilentDevice) {
    constexpr int kDatagrams = 3000;
    constexpr auto kPeriod = 1ms;
    TestHttpServer device;
    const std::unique_ptr<test::Monitor> monitor = monitorPostingTo(device.port());
    TFMain& window = *monitor->main;
    window.HttpClient.setTimeouts({.connect = 2s, .idle = 5s, .answer = 5s});
    device.serve([](int connection) { TestHttpServer::waitForClientClose(connection); });
    window.BSendReprogClick();

    test::LoopbackUdpSocket sender("127.0.0.7");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kDatagrams; ++i) {
        sender.sendTo(monitor->busPort(),
                      test::busDatagram(1, 0x000007, static_cast<std::uint8_t>(i), kClassTs,
                                        kSubtypeCyclic, {1, 0, 1}));
        const auto due = start + kPeriod * (i + 1);
        test::processEventsUntil([&] { return std::chrono::steady_clock::now() >= due; });
    }
    ASSERT_TRUE(
        test::processEventsUntil([&] { return monitor->totalDatagrams() == 1 + kDatagrams; }, 2s));
    const auto receptionTime = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(window.BSendReprog->isEnabled()) << "the post still waits for the device";
    TDevice flooder;
    ASSERT_TRUE(window.registry().getDevice(2, flooder));
    EXPECT_EQ(flooder.total, static_cast<std::uint32_t>(kDatagrams));
    EXPECT_EQ(flooder.missed, 0);

    ASSERT_TRUE(test::processEventsUntil([&] { return window.BSendReprog->isEnabled(); }, 10s));
    EXPECT_EQ(monitor->recorder.errors, std::vector<QString>{QString::fromStdString(kTimedOut)});
    EXPECT_TRUE(monitor->recorder.infos.empty());
    test::printFigure(
        "post to a silent device: %d datagrams at 1,000/s counted in %.0f ms, "
        "none lost, while the post waited",
        kDatagrams, test::milliseconds(receptionTime));
}

/// The limits a post has when nobody changes them, as docs/reliability.md states them.
TEST(HttpDefaultBounds, AreTheDocumentedOnes) {
    const HttpClient client;
    EXPECT_EQ(client.timeouts().connect, 15s);
    EXPECT_EQ(client.timeouts().idle, 15s);
    EXPECT_EQ(client.timeouts().answer, 20s);

    std::ifstream doc(QVLINK_RELIABILITY_DOC);
    ASSERT_TRUE(doc) << QVLINK_RELIABILITY_DOC;
    std::stringstream text;
    text << doc.rdbuf();
    const auto documented = [&](const std::string& row, long long value) {
        return text.str().find("| " + row + " | " + std::to_string(value) + " ") !=
               std::string::npos;
    };
    EXPECT_TRUE(documented("HTTP connect time-out (ms)", client.timeouts().connect.count()));
    EXPECT_TRUE(documented("HTTP wait time-out (ms)", client.timeouts().idle.count()));
    EXPECT_TRUE(documented("HTTP answer time-out (ms)", client.timeouts().answer.count()));
    EXPECT_TRUE(
        documented("Longest answer line (bytes)", static_cast<long long>(kMaxResponseLine)));
    EXPECT_TRUE(documented("Answer header lines", static_cast<long long>(kMaxHeaderLines)));
    EXPECT_TRUE(documented("Answer body kept (bytes)", static_cast<long long>(kMaxKeptBody)));
}

}  // namespace
}  // namespace qvlink
