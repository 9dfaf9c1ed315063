#include "net/udp_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gui_thread.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 10s;

sockaddr_in loopbackAddress(const char* ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

/// A plain UDP socket bound to a loopback address and an ephemeral port.
class PeerSocket {
public:
    explicit PeerSocket(const char* ip = "127.0.0.1") : m_ip(ip) {
        m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in local = loopbackAddress(ip, 0);
        m_bound = bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
        sockaddr_in actual{};
        socklen_t length = sizeof actual;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&actual), &length);
        m_port = ntohs(actual.sin_port);
    }
    ~PeerSocket() { close(m_socket); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    bool bound() const { return m_bound; }
    int port() const { return m_port; }
    const std::string& ip() const { return m_ip; }

    void sendTo(int port, const std::string& bytes) const {
        const sockaddr_in to = loopbackAddress("127.0.0.1", port);
        ASSERT_EQ(sendto(m_socket, bytes.data(), bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

    /// Waits for one datagram; returns its bytes and sender port, or an empty text on time-out.
    std::string receive(int* senderPort = nullptr) const {
        timeval patience{10, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        char buffer[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t size = recvfrom(m_socket, buffer, sizeof buffer, 0,
                                      reinterpret_cast<sockaddr*>(&from), &length);
        if (senderPort != nullptr) {
            *senderPort = ntohs(from.sin_port);
        }
        return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string();
    }

    int fd() const { return m_socket; }

private:
    std::string m_ip;
    int m_socket = -1;
    int m_port = 0;
    bool m_bound = false;
};

struct Delivery {
    std::string bytes;
    std::string senderIP;
    int senderPort = 0;
    std::thread::id thread;
};

/// Records deliveries from any thread and lets the test wait for them.
class Deliveries {
public:
    void add(std::span<const std::uint8_t> data, const UdpBinding& binding) {
        {
            const std::lock_guard lock(m_mutex);
            m_list.push_back({std::string(data.begin(), data.end()), binding.SenderIP,
                              binding.SenderPort, std::this_thread::get_id()});
        }
        m_changed.notify_all();
    }

    bool waitForCount(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_list.size() >= count; });
    }

    void clear() {
        const std::lock_guard lock(m_mutex);
        m_list.clear();
    }

    std::vector<Delivery> list() {
        const std::lock_guard lock(m_mutex);
        return m_list;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_list;
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TransportError& error) {
        return error.what();
    }
    return {};
}

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class UdpServerTest : public testing::Test {
protected:
    void TearDown() override { stopServer(); }

    /// Tests whose handler refers to their own locals stop the endpoint before those go away.
    void stopServer() {
        gui.run([this] { server.reset(); });
    }

    /// An endpoint with the monitor's buffer size on 127.0.0.1 and an ephemeral port that
    /// records every delivery; `configure` runs before activation, on the GUI thread.
    void start(const std::function<void(UdpServer&)>& configure = {}) {
        gui.run([&] {
            server = std::make_unique<UdpServer>(gui);
            server->setBufferSize(240);
            server->addBinding().IP = "127.0.0.1";
            server->setOnUDPRead(
                [this](UdpServer&, std::span<const std::uint8_t> data, const UdpBinding& binding) {
                    deliveries.add(data, binding);
                });
            if (configure) {
                configure(*server);
            }
            server->setActive(true);
            port = server->binding(0).Port;
        });
    }

    test::GuiThread gui;
    std::unique_ptr<UdpServer> server;
    Deliveries deliveries;
    int port = 0;
};

TEST_F(UdpServerTest, DeliversDatagramsOfBufferSizeWholeAndDropsLongerAndEmptyOnes) {
    start();
    PeerSocket peer;
    std::string full(240, '\0');
    for (std::size_t i = 0; i < full.size(); ++i) {
        full[i] = static_cast<char>(i);
    }
    peer.sendTo(port, full);
    peer.sendTo(port, std::string(241, 'x'));
    peer.sendTo(port, "");
    peer.sendTo(port, "after");

    ASSERT_TRUE(deliveries.waitForCount(2));
    const std::vector<Delivery> list = deliveries.list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].bytes, full);
    EXPECT_EQ(list[1].bytes, "after");
}

TEST_F(UdpServerTest, DiscardedDatagramsAreCountedWithTheirLastSender) {
    for (const bool threaded : {false, true}) {
        start([threaded](UdpServer& endpoint) { endpoint.setThreadedEvent(threaded); });
        const PeerSocket first("127.0.0.21");
        const PeerSocket second("127.0.0.22");
        ASSERT_TRUE(first.bound() && second.bound());
        first.sendTo(port, "");
        first.sendTo(port, std::string(241, 'x'));
        second.sendTo(port, std::string(4000, 'x'));
        second.sendTo(port, "");
        first.sendTo(port, std::string(240, 'x'));
        second.sendTo(port, "");
        first.sendTo(port, "after");

        ASSERT_TRUE(deliveries.waitForCount(2)) << threaded;
        const UdpServer::Discards discards = gui.run([&] { return server->discardedDatagrams(); });
        EXPECT_EQ(discards.empty.count, 3u) << threaded;
        EXPECT_EQ(discards.empty.lastSender, "127.0.0.22") << threaded;
        EXPECT_EQ(discards.oversized.count, 2u) << threaded;
        EXPECT_EQ(discards.oversized.lastSender, "127.0.0.22") << threaded;

        // The next round's endpoint counts afresh.
        stopServer();
        deliveries.clear();
    }
}

// All on one thread and in order, so each handler has returned before the next one runs.
TEST_F(UdpServerTest, DeliversInArrivalOrderOnTheGuiThreadWithEachSender) {
    start();
    const PeerSocket first("127.0.0.10");
    const PeerSocket second("127.0.10.2");
    ASSERT_TRUE(first.bound() && second.bound());
    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i) {
        const PeerSocket& peer = i % 2 == 0 ? first : second;
        peer.sendTo(port, std::to_string(i));
    }

    ASSERT_TRUE(deliveries.waitForCount(kCount));
    const std::vector<Delivery> list = deliveries.list();
    for (int i = 0; i < kCount; ++i) {
        const PeerSocket& peer = i % 2 == 0 ? first : second;
        EXPECT_EQ(list[i].bytes, std::to_string(i));
        EXPECT_EQ(list[i].senderIP, peer.ip());
        EXPECT_EQ(list[i].senderPort, peer.port());
        EXPECT_EQ(list[i].thread, gui.id());
    }
}

TEST_F(UdpServerTest, ThreadedEventRunsTheHandlerOnTheListenerThread) {
    start([](UdpServer& endpoint) { endpoint.setThreadedEvent(true); });
    PeerSocket peer;
    peer.sendTo(port, "x");
    ASSERT_TRUE(deliveries.waitForCount(1));
    const std::thread::id thread = deliveries.list().front().thread;
    EXPECT_NE(thread, gui.id());
    EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(UdpServerTest, EachBindingListensOnItsOwnAddressAndIsNamedWithItsDatagrams) {
    std::vector<const UdpBinding*> arrivedOn;
    start([&](UdpServer& endpoint) {
        endpoint.addBinding().IP = "127.0.0.2";
        endpoint.setOnUDPRead(
            [&](UdpServer&, std::span<const std::uint8_t> data, const UdpBinding& binding) {
                arrivedOn.push_back(&binding);
                deliveries.add(data, binding);
            });
    });
    const auto [first, second] = gui.run([&] {
        EXPECT_EQ(server->bindingCount(), 2u);
        EXPECT_THROW(server->binding(2), std::out_of_range);
        return std::pair{&server->binding(0), &server->binding(1)};
    });
    EXPECT_EQ(second->IP, "127.0.0.2");
    EXPECT_NE(second->Port, 0);
    PeerSocket peer;
    peer.sendTo(first->Port, "one");
    const sockaddr_in to = loopbackAddress("127.0.0.2", second->Port);
    ASSERT_EQ(sendto(peer.fd(), "two", 3, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 3);

    ASSERT_TRUE(deliveries.waitForCount(2));
    gui.run([&] { EXPECT_EQ(arrivedOn, (std::vector<const UdpBinding*>{first, second})); });
    stopServer();
}

TEST_F(UdpServerTest, PortInUseFailsActivationAndSendDatagramActivatesOnceItIsFree) {
    auto holder = std::make_unique<PeerSocket>("0.0.0.0");
    const int takenPort = holder->port();
    const std::string inUse = "Could not bind socket. Address and port are already in use.";
    gui.run([&] {
        server = std::make_unique<UdpServer>(gui);
        server->setDefaultPort(takenPort);
        server->setOnUDPRead([this](UdpServer&, std::span<const std::uint8_t> data,
                                    const UdpBinding& binding) { deliveries.add(data, binding); });
        server->addBinding().IP = "0.0.0.0";
        EXPECT_EQ(errorOf([&] { server->setActive(true); }), inUse);
        EXPECT_FALSE(server->isActive());
        EXPECT_EQ(errorOf([&] { server->SendDatagram("127.0.0.1", takenPort, "a", 1); }), inUse);
    });

    holder.reset();
    // The endpoint sends to its own port: it is listening from the activation on.
    gui.run([&] {
        EXPECT_EQ(errorOf([&] { server->SendDatagram("127.0.0.1", takenPort, "echo", 4); }), "");
        EXPECT_TRUE(server->isActive());
    });
    ASSERT_TRUE(deliveries.waitForCount(1));
    EXPECT_EQ(deliveries.list()[0].bytes, "echo");
    EXPECT_EQ(deliveries.list()[0].senderPort, takenPort);
}

TEST_F(UdpServerTest, ActivationWithoutBindingsNeedsADefaultPortAndBindsAllInterfaces) {
    const int freePort = PeerSocket().port();  // released again at once
    gui.run([&] {
        server = std::make_unique<UdpServer>(gui);
        EXPECT_EQ(errorOf([&] { server->setActive(true); }), "No bindings specified.");
        server->setDefaultPort(freePort);
        server->setActive(true);
        ASSERT_EQ(server->bindingCount(), 1u);
        EXPECT_EQ(server->binding(0).Port, freePort);
        EXPECT_EQ(server->binding(0).IP, "0.0.0.0");
    });
}

TEST_F(UdpServerTest, SendFailuresCarryTheirMessages) {
    start();
    gui.run([&] {
        const std::vector<char> tooLong(70000, 'x');
        EXPECT_EQ(
            errorOf([&] { server->SendDatagram("127.0.0.1", 9, tooLong.data(), tooLong.size()); }),
            "Package Size Too Big.");
        EXPECT_EQ(errorOf([&] { server->SendDatagram("127.0.0.1", 0, "x", 1); }),
                  "Socket Error # 10049\r\nCannot assign requested address.");
    });
}

TEST_F(UdpServerTest, SendsToLocalhostInAnyLetterCaseAndToDottedQuads) {
    start();
    const PeerSocket receiver;
    for (const char* host : {"LOCALHOST", "localhost", "LocalHost", "127.0.0.1", "127.000.0.001"}) {
        SCOPED_TRACE(host);
        gui.run([&] { server->SendDatagram(host, receiver.port(), host, std::strlen(host)); });
        int senderPort = 0;
        EXPECT_EQ(receiver.receive(&senderPort), host);
        EXPECT_EQ(senderPort, port);
    }
}

TEST_F(UdpServerTest, BroadcastPermissionIsSetOnTheSocketAndFollowsChanges) {
    start([](UdpServer& endpoint) { endpoint.setBroadcastEnabled(true); });
    const PeerSocket receiver("127.255.255.255");
    ASSERT_TRUE(receiver.bound());
    auto permission = [&] {
        int value = 0;
        socklen_t length = sizeof value;
        getsockopt(server->binding(0).socket(), SOL_SOCKET, SO_BROADCAST, &value, &length);
        return value;
    };

    gui.run([&] { server->SendDatagram("127.255.255.255", receiver.port(), "all", 3); });
    EXPECT_EQ(receiver.receive(), "all");
    EXPECT_NE(gui.run(permission), 0);

    gui.run([&] { server->setBroadcastEnabled(false); });
    EXPECT_EQ(gui.run(permission), 0);
    EXPECT_EQ(
        errorOf([&] {
            gui.run([&] { server->SendDatagram("127.255.255.255", receiver.port(), "x", 1); });
        }),
        "Socket Error # 10013\r\nAccess denied.");
}

TEST_F(UdpServerTest, StopUnderFloodIsPromptAndDeliversNothingOnceBegun) {
    for (const bool byDestruction : {false, true}) {
        SCOPED_TRACE(byDestruction ? "destruction" : "setActive(false)");
        deliveries.clear();
        std::atomic<bool> stopBegun{false};
        std::atomic<int> lateDeliveries{0};
        start([&](UdpServer& endpoint) {
            endpoint.setOnUDPRead(
                [&](UdpServer&, std::span<const std::uint8_t> data, const UdpBinding& binding) {
                    if (stopBegun) {
                        ++lateDeliveries;
                    }
                    deliveries.add(data, binding);
                });
        });
        std::atomic<bool> flooding{true};
        std::thread flood([&, target = port] {
            const PeerSocket peer;
            const std::string datagram(240, 'f');
            const sockaddr_in to = loopbackAddress("127.0.0.1", target);
            while (flooding) {
                sendto(peer.fd(), datagram.data(), datagram.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        });
        EXPECT_TRUE(deliveries.waitForCount(2000));
        const auto latency = gui.run([&] {
            const auto begun = Clock::now();
            stopBegun = true;
            if (byDestruction) {
                server.reset();
            } else {
                server->setActive(false);
            }
            return Clock::now() - begun;
        });
        // Readiness seen before the stop is acted on after it; it must deliver nothing.
        gui.run([] {});
        flooding = false;
        flood.join();
        std::printf("[ measure ] stop by %s under flood: %.3f ms\n",
                    byDestruction ? "destruction" : "setActive(false)",
                    std::chrono::duration<double, std::milli>(latency).count());
        EXPECT_LT(latency, 3s);
        EXPECT_EQ(lateDeliveries, 0);
        stopServer();
    }
}

TEST_F(UdpServerTest, HandlerThatStopsTheEndpointGetsNoFurtherDatagram) {
    std::latch allSent(1);
    std::atomic<int> calls{0};
    start([&](UdpServer& endpoint) {
        endpoint.setOnUDPRead(
            [&](UdpServer& sender, std::span<const std::uint8_t>, const UdpBinding&) {
                if (++calls == 1) {
                    allSent.wait();
                }
                if (calls == 3) {
                    sender.setActive(false);
                }
            });
    });
    PeerSocket peer;
    for (int i = 0; i < 10; ++i) {
        peer.sendTo(port, "d");
    }
    allSent.count_down();
    ASSERT_TRUE(eventually([&] { return !gui.run([&] { return server->isActive(); }); }));
    gui.run([] {});
    EXPECT_EQ(calls, 3);
}

TEST_F(UdpServerTest, ReceiveBufferIsEnlargedAtActivation) {
    int systemLimit = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> systemLimit;
    start();
    const int effective = gui.run([&] { return server->receiveBufferSize(); });
    std::printf("[ measure ] effective receive buffer: %d bytes\n", effective);
    // The kernel reports twice the size it grants (bookkeeping included).
    EXPECT_GE(effective, 2 * std::min(UdpServer::kDefaultReceiveBufferRequest, systemLimit));

    gui.run([&] {
        server->setActive(false);
        server->setReceiveBufferRequest(64 * 1024);
        server->setActive(true);
        EXPECT_EQ(server->receiveBufferSize(), 2 * 64 * 1024);
    });
}

TEST_F(UdpServerTest, DatagramsLostToAFullSocketBufferAreCounted) {
    std::latch released(1);
    start([&](UdpServer& endpoint) {
        endpoint.setReceiveBufferRequest(4096);
        endpoint.setOnUDPRead(
            [&](UdpServer&, std::span<const std::uint8_t>, const UdpBinding&) { released.wait(); });
    });
    PeerSocket peer;
    for (int i = 0; i < 200; ++i) {
        peer.sendTo(port, std::string(200, 'd'));
    }
    released.count_down();
    // The count travels with the datagrams queued after the loss, so keep sending until one of
    // them has been received.
    EXPECT_TRUE(eventually([&] {
        peer.sendTo(port, "late");
        return gui.run([&] { return server->droppedDatagrams(); }) > 0;
    }));
    stopServer();
}

/// A dispatcher on the test's own thread: the test says when the watched sockets are looked at,
/// and the pauses the endpoint asks of its watches are recorded.
class HandWatchedDispatcher final : public Dispatcher {
public:
    std::unique_ptr<ReadableWatch> watchReadable(int, std::function<void()> onReadable) override {
        m_onReadable = std::move(onReadable);
        return std::make_unique<Watch>(m_pauses);
    }

    void socketReadable() { m_onReadable(); }
    std::vector<std::chrono::milliseconds> takePauses() { return std::exchange(m_pauses, {}); }

private:
    class Watch final : public ReadableWatch {
    public:
        explicit Watch(std::vector<std::chrono::milliseconds>& pauses) : m_pauses(pauses) {}
        void pauseFor(std::chrono::milliseconds pause) override { m_pauses.push_back(pause); }

    private:
        std::vector<std::chrono::milliseconds>& m_pauses;
    };

    std::function<void()> m_onReadable;
    std::vector<std::chrono::milliseconds> m_pauses;
};

// Light traffic waits in the socket between wake-ups; a busy queue is taken without a pause.
TEST(UdpServerWatched, ATrickleGathersInTheSocketAndABusyQueueIsTakenAtOnce) {
    HandWatchedDispatcher dispatcher;
    UdpServer server(dispatcher);
    int delivered = 0;
    server.addBinding().IP = "127.0.0.1";
    server.setOnUDPRead(
        [&](UdpServer&, std::span<const std::uint8_t>, const UdpBinding&) { ++delivered; });
    server.setActive(true);
    const PeerSocket peer;

    constexpr std::chrono::milliseconds kGathering(UdpServer::kTrickleGatheringMs);
    struct Case {
        int waiting;
        std::vector<std::chrono::milliseconds> pauses;
    };
    for (const Case& c :
         {Case{1, {kGathering}}, Case{UdpServer::kTrickleDatagrams - 1, {kGathering}},
          Case{UdpServer::kTrickleDatagrams, {}},
          Case{UdpServer::kMaxDatagramsPerWakeup + 10, {}}}) {
        SCOPED_TRACE(c.waiting);
        for (int i = 0; i < c.waiting; ++i) {
            peer.sendTo(server.binding(0).Port, "x");  // queued before sendto returns on loopback
        }
        delivered = 0;
        const auto began = Clock::now();
        dispatcher.socketReadable();
        // On a slow machine (a sanitizer build) the time bound may end the wake-up first.
        const bool timeSpent =
            Clock::now() - began >= std::chrono::milliseconds(UdpServer::kMaxDrainTimeMs);
        EXPECT_LE(delivered, UdpServer::kMaxDatagramsPerWakeup);
        if (!timeSpent) {
            EXPECT_EQ(delivered, std::min(c.waiting, UdpServer::kMaxDatagramsPerWakeup));
        }
        EXPECT_EQ(dispatcher.takePauses(), c.pauses);
        while (delivered < c.waiting) {
            dispatcher.socketReadable();  // what the bound per wake-up left behind
        }
        dispatcher.takePauses();
    }
}

// The time bound ends a wake-up between sockets: the second binding's datagram waits for the
// next one.
TEST(UdpServerWatched, AWakeUpEndsOnceItsTimeIsSpent) {
    HandWatchedDispatcher dispatcher;
    UdpServer server(dispatcher);
    std::vector<int> deliveredPorts;
    server.addBinding().IP = "127.0.0.1";
    server.addBinding().IP = "127.0.0.1";
    server.setOnUDPRead([&](UdpServer&, std::span<const std::uint8_t>, const UdpBinding& binding) {
        deliveredPorts.push_back(binding.Port);
        std::this_thread::sleep_for(std::chrono::milliseconds(UdpServer::kMaxDrainTimeMs + 1));
    });
    server.setActive(true);
    const PeerSocket peer;
    peer.sendTo(server.binding(0).Port, "first");
    peer.sendTo(server.binding(1).Port, "second");

    dispatcher.socketReadable();
    EXPECT_EQ(deliveredPorts, std::vector<int>{server.binding(0).Port});
    dispatcher.socketReadable();
    EXPECT_EQ(deliveredPorts, (std::vector<int>{server.binding(0).Port, server.binding(1).Port}));
}

}  // namespace
}  // namespace qvlink
