// qvlink-dump on a live interface: loopback traffic to a test port, ended by a signal.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "dump/capture_file.h"
#include "dump/csv_reader.h"
#include "dump/dump_test_support.h"
#include "support/packet_builder.h"

namespace qvlink::test {
namespace {

bool mayCaptureLive() {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_create("lo", error);
    const bool allowed = handle != nullptr && pcap_activate(handle) >= 0;
    if (handle != nullptr) {
        pcap_close(handle);
    }
    return allowed;
}

/// A UDP socket bound to an ephemeral loopback port: the destination of the test traffic,
/// so that the kernel has a receiver for it.
class LoopbackPort {
public:
    LoopbackPort() : m_fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackPort() { close(m_fd); }
    std::uint16_t port() const { return m_port; }

    void send(const Bytes& datagram) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(m_port);
        const int sender = socket(AF_INET, SOCK_DGRAM, 0);
        sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
        close(sender);
    }

private:
    int m_fd;
    std::uint16_t m_port = 0;
};

using DumpLive = ScratchFolder;

TEST_F(DumpLive, SignalEndsTheCaptureWithStatisticsAndClosedFiles) {
    if (!mayCaptureLive()) {
        GTEST_SKIP() << "no right to capture on lo (needs root or cap_net_raw)";
    }
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        const LoopbackPort port;
        const std::string csv = path("live" + std::to_string(signalNumber) + ".csv");
        ChildProcess dump({QVLINK_DUMP_BINARY, "-i", "lo", "-p", std::to_string(port.port()),
                           "--stats", "--csv", csv},
                          {"LC_ALL=C", "TZ=UTC"});
        ASSERT_TRUE(dump.waitFor(
            [](const std::string&, const std::string& err) {
                return err.find("capturing on lo") != std::string::npos;
            },
            std::chrono::seconds(30)))
            << dump.err();

        // On a loaded machine the capture may see traffic only a moment after it reports
        // itself ready: another device says hello until the capture shows it.
        EXPECT_TRUE(dump.waitFor(
            [&port](const std::string& out, const std::string&) {
                if (!splitLines(out).empty()) {
                    return true;
                }
                port.send(sequencedDatagram(1, 0x00EEEE, 0, 2, 2, {1, 0, 1}));
                return false;
            },
            std::chrono::seconds(30)))
            << dump.err();
        for (const std::uint8_t seq : {1, 2, 4}) {
            port.send(sequencedDatagram(1, 0x00ABCD, seq, 2, 2, {1, 0, 1}));
        }
        const auto countedLines = [](const std::string& out) {
            const std::vector<std::string> lines = splitLines(out);
            return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.find("FA CE 01 00 AB CD ") != std::string::npos;
            });
        };
        EXPECT_TRUE(
            dump.waitFor([&countedLines](const std::string& out,
                                         const std::string&) { return countedLines(out) == 3; },
                         std::chrono::seconds(30)))
            << dump.out();

        dump.signal(signalNumber);
        EXPECT_EQ(dump.wait(), 0) << dump.err();
        const std::vector<std::string> shown = splitLines(dump.out());
        for (const std::string& line : shown) {
            EXPECT_NE(line.find("\t127.0.0.1\tFA CE 01 00 "), std::string::npos) << line;
            EXPECT_TRUE(line.ends_with("\tТирон: ТС цикл")) << line;
        }
        auto devices = statisticsDevices(dump.err());
        EXPECT_EQ(devices["FA:CE:01:00:AB:CD"]["datagrams"], "3") << dump.err();
        EXPECT_EQ(devices["FA:CE:01:00:AB:CD"]["missed"], "1") << dump.err();
        EXPECT_EQ(devices["FA:CE:01:00:AB:CD"]["restarts"], "0") << dump.err();
        const std::optional<CsvRows> rows = parseCsv(readFile(csv));
        ASSERT_TRUE(rows.has_value());
        EXPECT_EQ(rows->size(), shown.size() + 1) << "a header and one row per datagram shown";
    }
}

TEST_F(DumpLive, WithoutTheCaptureRightTheMessageNamesTheCure) {
    std::vector<std::string> command{QVLINK_DUMP_BINARY, "-i", "lo"};
    if (geteuid() == 0) {
        if (std::system("command -v setpriv > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "running as root without setpriv to drop the capture right";
        }
        command.insert(command.begin(),
                       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    } else if (mayCaptureLive()) {
        GTEST_SKIP() << "this user holds the capture right";
    }

    const ProcessResult result = runProcess(command, {"LC_ALL=C"});

    EXPECT_EQ(result.exitCode, 2);
    // The capture helper beside the program says what it needs and how to grant it.
    EXPECT_NE(result.err.find("qvlink-dump: qvlink-capture: permission denied: live capture needs "
                              "root or cap_net_raw on "),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("sudo setcap cap_net_raw+ep "), std::string::npos) << result.err;
}

}  // namespace
}  // namespace qvlink::test
