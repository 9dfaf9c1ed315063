// The change-IP broadcast crossing a real link: two network namespaces joined by a veth
// pair, the monitor's endpoint on port 973 in one, a device's listener in the other.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "net/udp_server.h"
#include "protocol/command.h"

namespace qvlink {
namespace {

/// Watches nothing: the sending side never receives.
class NoDispatcher : public Dispatcher {
public:
    std::unique_ptr<ReadableWatch> watchReadable(int, std::function<void()>) override {
        return std::make_unique<Idle>();
    }

private:
    struct Idle final : ReadableWatch {
        void pauseFor(std::chrono::milliseconds) override {}
    };
};

bool run(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

/// Two namespaces "monitor" and "device" on 10.97.0.1/24 and 10.97.0.2/24, removed on exit.
class NamespacePair {
public:
    NamespacePair()
        : m_monitor("qvlink-mon-" + std::to_string(getpid())),
          m_device("qvlink-dev-" + std::to_string(getpid())) {
        m_ready = run("ip netns add " + m_monitor) && run("ip netns add " + m_device) &&
                  run("ip link add qvm" + suffix() + " netns " + m_monitor +
                      " type veth peer name qvd" + suffix() + " netns " + m_device) &&
                  configure(m_monitor, "qvm", "10.97.0.1") &&
                  configure(m_device, "qvd", "10.97.0.2") &&
                  run("ip -n " + m_monitor + " route add default dev qvm" + suffix());
    }
    ~NamespacePair() {
        run("ip netns del " + m_monitor);
        run("ip netns del " + m_device);
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    bool ready() const { return m_ready; }
    const std::string& monitor() const { return m_monitor; }
    const std::string& device() const { return m_device; }

private:
    std::string suffix() const { return std::to_string(getpid() % 100000); }
    bool configure(const std::string& ns, const std::string& prefix, const std::string& address) {
        const std::string link = prefix + suffix();
        return run("ip -n " + ns + " addr add " + address + "/24 dev " + link) &&
               run("ip -n " + ns + " link set " + link + " up") &&
               run("ip -n " + ns + " link set lo up");
    }

    std::string m_monitor;
    std::string m_device;
    bool m_ready = false;
};

/// Moves the calling (single-threaded, forked) process into a named namespace.
bool enterNamespace(const std::string& name) {
    const int fd = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return entered;
}

struct Heard {
    int sourcePort = -1;
    int size = -1;
    std::array<std::uint8_t, kMaxDatagramSize> bytes{};
};

/// In the device namespace: binds UDP 973, reports the first datagram through `pipeFd`.
[[noreturn]] void deviceListener(const std::string& ns, int pipeFd, int readyFd) {
    Heard heard;
    const int fd = enterNamespace(ns) ? socket(AF_INET, SOCK_DGRAM, 0) : -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kBusPort);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    const char readyByte = bound ? 1 : 0;
    (void)!write(readyFd, &readyByte, 1);
    pollfd wait{fd, POLLIN, 0};
    if (bound && poll(&wait, 1, 5000) == 1) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        heard.size = static_cast<int>(recvfrom(fd, heard.bytes.data(), heard.bytes.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &length));
        heard.sourcePort = ntohs(from.sin_port);
    }
    (void)!write(pipeFd, &heard, sizeof heard);
    _exit(0);
}

/// In the monitor namespace: the bus endpoint on port 973 broadcasts one change-IP command.
[[noreturn]] void monitorSender(const std::string& ns) {
    int status = 1;
    if (enterNamespace(ns)) {
        try {
            NoDispatcher dispatcher;
            UdpServer endpoint(dispatcher);
            endpoint.setBroadcastEnabled(true);
            endpoint.setDefaultPort(kBusPort);
            endpoint.setBufferSize(static_cast<int>(kMaxDatagramSize));
            endpoint.addBinding().IP = "0.0.0.0";
            endpoint.setActive(true);
            CommandFramer framer;
            DatagramArea datagram{};
            std::size_t length = 0;
            framer.buildSetIpCommand("FA:CE:01:00:11:22", "10.97.0.50", datagram, length);
            endpoint.SendDatagram("255.255.255.255", kBusPort, datagram.data(), length);
            status = 0;
        } catch (const std::exception&) {
            status = 2;
        }
    }
    _exit(status);
}

TEST(BroadcastAcrossALink, ChangeIpCommandArrivesFromPort973) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "creating network namespaces needs root";
    }
    NamespacePair namespaces;
    if (!namespaces.ready()) {
        GTEST_SKIP() << "network namespaces or veth links are not available here";
    }
    int heardPipe[2];
    int readyPipe[2];
    ASSERT_EQ(pipe(heardPipe), 0);
    ASSERT_EQ(pipe(readyPipe), 0);
    const pid_t listener = fork();
    if (listener == 0) {
        deviceListener(namespaces.device(), heardPipe[1], readyPipe[1]);
    }
    char ready = 0;
    ASSERT_EQ(read(readyPipe[0], &ready, 1), 1);
    ASSERT_EQ(ready, 1) << "device side could not bind port 973";

    const pid_t sender = fork();
    if (sender == 0) {
        monitorSender(namespaces.monitor());
    }
    int senderStatus = 0;
    waitpid(sender, &senderStatus, 0);
    EXPECT_TRUE(WIFEXITED(senderStatus) && WEXITSTATUS(senderStatus) == 0);

    Heard heard;
    ASSERT_EQ(read(heardPipe[0], &heard, sizeof heard), static_cast<ssize_t>(sizeof heard));
    waitpid(listener, nullptr, 0);
    for (int fd : {heardPipe[0], heardPipe[1], readyPipe[0], readyPipe[1]}) {
        close(fd);
    }

    EXPECT_EQ(heard.sourcePort, kBusPort);
    const std::string body = "FA:CE:01:00:11:22 10.97.0.50";
    ASSERT_EQ(heard.size, static_cast<int>(body.size() + 1 + kCommandOverhead));
    EXPECT_EQ(heard.bytes[7], kClassText);
    EXPECT_EQ(heard.bytes[8], kSubtypeSetIp);
    EXPECT_EQ(std::string(heard.bytes.begin() + 9, heard.bytes.begin() + 9 + body.size()), body);
}

}  // namespace
}  // namespace qvlink
