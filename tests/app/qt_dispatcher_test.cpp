// The endpoint on the GUI thread's own event loop: the Qt dispatcher watches the socket, so no
// listener thread stands between a datagram and its handler.

#include "app/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "net/udp_server.h"
#include "support/event_wait.h"
#include "support/udp_sender.h"

namespace qvlink {
namespace {

std::size_t threadCount() {
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

struct Endpoint {
    QtDispatcher dispatcher;
    UdpServer server{dispatcher};
    std::vector<std::uint32_t> received;

    explicit Endpoint(UdpServer::ReadHandler handler = {}) {
        server.setOnUDPRead(handler
                                ? std::move(handler)
                                : [this](UdpServer&, std::span<const std::uint8_t> data,
                                         const UdpBinding&) { received.push_back(number(data)); });
        server.setBufferSize(240);
        server.addBinding().IP = "127.0.0.1";
        server.setActive(true);
    }

    int port() { return server.binding(0).Port; }

    static std::uint32_t number(std::span<const std::uint8_t> data) {
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
            n |= static_cast<std::uint32_t>(data[i]) << (8 * i);
        }
        return n;
    }
};

std::vector<std::uint8_t> numbered(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
}

TEST(QtDispatcherReception, ABurstBeyondOneWakeUpArrivesWholeInOrderWithoutAListenerThread) {
    const std::size_t threadsBefore = threadCount();
    Endpoint endpoint;
    EXPECT_EQ(threadCount(), threadsBefore);

    constexpr std::uint32_t kBurst = 3 * UdpServer::kMaxDatagramsPerWakeup + 17;
    test::LoopbackUdpSocket peer;
    for (std::uint32_t n = 0; n < kBurst; ++n) {
        peer.sendTo(endpoint.port(), numbered(n));
    }
    ASSERT_TRUE(test::processEventsUntil([&] { return endpoint.received.size() == kBurst; }));
    for (std::uint32_t n = 0; n < kBurst; ++n) {
        ASSERT_EQ(endpoint.received[n], n);
    }
}

TEST(QtDispatcherReception, HandlerThatStopsTheEndpointGetsNoFurtherDatagram) {
    int calls = 0;
    Endpoint endpoint(
        [&calls](UdpServer& sender, std::span<const std::uint8_t>, const UdpBinding&) {
            if (++calls == 3) {
                sender.setActive(false);
            }
        });
    test::LoopbackUdpSocket peer;
    for (std::uint32_t n = 0; n < 10; ++n) {
        peer.sendTo(endpoint.port(), numbered(n));
    }
    ASSERT_TRUE(test::processEventsUntil([&] { return !endpoint.server.isActive(); }));
    QCoreApplication::processEvents();  // any watch still queued runs now
    EXPECT_EQ(calls, 3);

    endpoint.server.setActive(true);  // the next activation watches afresh
    peer.sendTo(endpoint.port(), numbered(99));
    EXPECT_TRUE(test::processEventsUntil([&] { return calls == 4; }));
}

}  // namespace
}  // namespace qvlink
