// The simulator live on loopback: a monitor's firmware-update post and change-IP
// broadcast, and what the devices send afterwards, seen through the monitor's registry.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/command.h"
#include "protocol/packets.h"
#include "sim_runner.h"
#include "state/device_registry.h"

namespace qvlink::sim {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 15s;

sockaddr_in loopback(const char* ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

/// A port that was free a moment ago.
std::uint16_t freePort(int type) {
    UniqueFd fd(::socket(AF_INET, type, 0));
    sockaddr_in address = loopback("0.0.0.0", 0);
    socklen_t size = sizeof address;
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size), 0);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

/// The monitor's side of the bus: every datagram to its port goes into a registry.
class MonitorSide {
public:
    MonitorSide() : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address = loopback("127.0.0.1", 0);
        socklen_t size = sizeof address;
        ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
    }

    std::uint16_t port() const { return m_port; }

    /// Receives until `done` holds; false when the deadline passes first.
    bool waitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            pollfd fd{m_fd.get(), POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                receive();
            }
        }
        return true;
    }

    TDevice device(const std::string& mac) const {
        TDevice entry;
        registry.findDeviceByMac(mac, entry);
        return entry;
    }

    DeviceRegistry registry{[] { return LocalDateTime{}; }};
    TPacket last;  ///< the latest datagram
    std::string lastIp;

private:
    void receive() {
        std::array<std::uint8_t, 512> buffer{};
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &size);
        const auto length = static_cast<std::size_t>(got);
        if (got <= 0 || classifyDatagram(buffer.data(), length) != DatagramVerdict::Accepted ||
            !parsePacket(buffer.data(), length, last)) {
            return;
        }
        std::array<char, INET_ADDRSTRLEN> ip{};
        inet_ntop(AF_INET, &from.sin_addr, ip.data(), ip.size());
        lastIp = ip.data();
        registry.updateDevice(lastIp, last);
    }

    UniqueFd m_fd;
    std::uint16_t m_port = 0;
};

/// The simulator running in its own thread until the test ends.
class RunningSimulator {
public:
    explicit RunningSimulator(const SimConfig& config)
        : m_runner(config,
                   [this](const std::string& line) {
                       const std::lock_guard lock(m_mutex);
                       m_log += line + "\n";
                   }),
          m_thread([this] { m_runner.run(m_stop); }) {}
    ~RunningSimulator() {
        m_stop = true;
        m_thread.join();
    }

    bool logged(const std::string& text) {
        const std::lock_guard lock(m_mutex);
        return m_log.find(text) != std::string::npos;
    }

private:
    std::mutex m_mutex;
    std::string m_log;
    std::atomic<bool> m_stop{false};
    SimRunner m_runner;
    std::thread m_thread;
};

/// Posts the firmware-update form the way a monitor does and returns the whole answer.
std::string postReprog(const char* ip, std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = loopback(ip, port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return "connect failed";
    }
    for (const std::string& line : std::vector<std::string>{
             "POST / HTTP/1.0\r\n", "Host: " + std::string(ip) + "\r\n",
             "Accept: text/html, */*\r\n", "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n",
             "Content-Length: 11\r\n", "\r\n", "reprog={}\r\n"}) {
        ::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL);
    }
    std::string answer;
    std::array<char, 512> buffer{};
    pollfd wait{fd.get(), POLLIN, 0};
    while (::poll(&wait, 1, 10'000) > 0) {
        const ssize_t got = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        answer.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return answer;
}

SimConfig loopbackConfig(const MonitorSide& monitor, const char* baseIp) {
    SimConfig config;
    config.deviceCount = 3;
    config.types = {16, 1, 17};
    config.baseIp = baseIp;
    config.port = monitor.port();
    config.cycleSeconds = 0.3;
    config.reprogQuietSeconds = 0.5;
    config.listen = ListenMode::Off;
    config.httpPort = freePort(SOCK_STREAM);
    return config;
}

const std::string kFirst = "FA:CE:10:5A:00:01";
const std::string kSecond = "FA:CE:01:5A:00:02";
const std::string kThird = "FA:CE:11:5A:00:03";

TEST(SimulatorOnLoopback, FirmwareUpdatePostIsAnsweredAndTheDeviceComesBackRestarted) {
    MonitorSide monitor;
    const SimConfig config = loopbackConfig(monitor, "127.0.0.61");
    RunningSimulator simulator(config);
    ASSERT_TRUE(monitor.waitFor([&] { return monitor.device(kSecond).total >= 5; }));

    const std::string answer = postReprog("127.0.0.62", config.httpPort);
    EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << answer;
    EXPECT_TRUE(answer.ends_with("\r\n\r\nfirmware update mode: the device restarts\r\n"));

    ASSERT_TRUE(monitor.waitFor([&] { return monitor.device(kSecond).restarts == 1; }));
    EXPECT_EQ(monitor.last.macAddr, kSecond);
    EXPECT_EQ(monitor.last.seq, 0);
    EXPECT_EQ(monitor.device(kFirst).restarts, 0);
    EXPECT_EQ(monitor.device(kThird).restarts, 0);
    EXPECT_TRUE(simulator.logged("#2 FA:CE:01:5A:00:02 127.0.0.62: HTTP POST / from 127.0.0.1:"));
}

/// Both ways of hearing the change-IP broadcast: an own socket, and the capture helper beside
/// a port that nobody on this host binds.
class ChangeIpOnLoopback : public ::testing::TestWithParam<ListenMode> {};

TEST_P(ChangeIpOnLoopback, MovesOnlyTheAddressedDevice) {
    if (GetParam() == ListenMode::Pcap && ::geteuid() != 0) {
        GTEST_SKIP() << "live capture through the helper of the build tree needs root";
    }
    MonitorSide monitor;
    SimConfig config = loopbackConfig(monitor, "127.0.0.71");
    config.listen = GetParam();
    config.listenPort = freePort(SOCK_DGRAM);
    config.pcapInterface = "lo";
    config.captureHelper = QVLINK_CAPTURE_HELPER;
    RunningSimulator simulator(config);
    ASSERT_TRUE(simulator.logged(GetParam() == ListenMode::Pcap
                                     ? "commands heard by packet capture on lo"
                                     : "commands heard on UDP"));
    ASSERT_TRUE(monitor.waitFor(
        [&] { return monitor.device(kFirst).total > 0 && monitor.device(kThird).total > 0; }));

    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in to = loopback("127.0.0.1", config.listenPort);
    CommandFramer framer;
    const auto broadcast = [&](const std::string& mac, const char* ip) {
        DatagramArea area{};
        std::size_t length = 0;
        framer.buildSetIpCommand(mac, ip, area, length);
        ::sendto(sender.get(), area.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    };

    broadcast(kSecond, "127.0.0.99");
    ASSERT_TRUE(monitor.waitFor([&] { return monitor.device(kSecond).ipAddr == "127.0.0.99"; }));
    // Its neighbours keep their addresses while they go on sending.
    const std::uint32_t firstTotal = monitor.device(kFirst).total;
    const std::uint32_t thirdTotal = monitor.device(kThird).total;
    ASSERT_TRUE(monitor.waitFor([&] {
        return monitor.device(kFirst).total > firstTotal &&
               monitor.device(kThird).total > thirdTotal;
    }));
    EXPECT_EQ(monitor.device(kFirst).ipAddr, "127.0.0.71");
    EXPECT_EQ(monitor.device(kThird).ipAddr, "127.0.0.73");
    // The firmware-update form now lives on the new address.
    EXPECT_TRUE(postReprog("127.0.0.99", config.httpPort).starts_with("HTTP/1.0 200 OK"));

    // An address this host does not have is refused; the device keeps its own.
    broadcast(kThird, "10.254.254.254");
    broadcast("FA:CE:10:5A:00:09", "127.0.0.98");
    ASSERT_TRUE(monitor.waitFor([&] {
        return simulator.logged("cannot take the address") && simulator.logged("not one of ours");
    }));
    const std::uint32_t afterRefusal = monitor.device(kThird).total;
    ASSERT_TRUE(monitor.waitFor([&] { return monitor.device(kThird).total > afterRefusal; }));
    EXPECT_EQ(monitor.device(kThird).ipAddr, "127.0.0.73");
}

INSTANTIATE_TEST_SUITE_P(ListenModes, ChangeIpOnLoopback,
                         ::testing::Values(ListenMode::Bind, ListenMode::Pcap),
                         [](const ::testing::TestParamInfo<ListenMode>& mode) {
                             return mode.param == ListenMode::Pcap ? "Capture" : "Bind";
                         });

}  // namespace
}  // namespace qvlink::sim
