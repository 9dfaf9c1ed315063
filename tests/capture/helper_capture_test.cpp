// Live capture through the capture helper of the build: bus datagrams of a loopback port
// arrive and nothing else, a stop ends the stream cleanly, and every way the capture cannot
// start is told with its cause.

#include "capture/helper_capture.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture_file/frame_decoder.h"
#include "support/udp_sender.h"

namespace qvlink::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

/// Payloads of the bus datagrams read within `timeout` or until `enough` holds.
std::vector<Bytes> readPayloads(HelperCapture& helper, FrameDecoder& decoder,
                                const std::function<bool(const std::vector<Bytes>&)>& enough,
                                const std::function<void()>& whileWaiting,
                                std::chrono::seconds timeout = 30s) {
    std::vector<Bytes> payloads;
    const FrameHandler collect = [&](const pcap_pkthdr& header, const std::uint8_t* frame) {
        const FrameDatagram datagram = decoder.decode(frame, header.caplen);
        if (datagram.kind == FrameKind::Datagram) {
            payloads.emplace_back(datagram.payload, datagram.payload + datagram.capturedSize);
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!enough(payloads) && std::chrono::steady_clock::now() < deadline) {
        whileWaiting();
        pollfd ready{helper.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0 && !helper.read(collect)) {
            break;
        }
    }
    return payloads;
}

TEST(HelperCapture, CapturesTheBusPortOnlyAndEndsCleanlyWhenStopped) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "live capture through the helper of the build tree needs root";
    }
    test::LoopbackUdpSocket bus;
    test::LoopbackUdpSocket other;
    test::LoopbackUdpSocket sender;
    HelperCapture helper(QVLINK_CAPTURE_HELPER, "lo", static_cast<std::uint16_t>(bus.port()),
                         CaptureFilter::Bus);
    ASSERT_TRUE(helper.awaitStart());
    ASSERT_EQ(helper.linkType(), static_cast<int>(LinkType::Ethernet));
    helper.setNonBlocking();

    // Loopback keeps the order: a datagram to another port sent just before each bus one
    // would arrive first if the filter let it through.
    const Bytes onBus{0xFA, 0xCE, 0x01, 0x00, 0xAB, 0xCD, 0x01, 0x02, 0x02, 0x01, 0x00, 0x01};
    const Bytes elsewhere{0xFA, 0xCE, 0x01, 0x00, 0x12, 0x34, 0x01, 0x02, 0x02, 0x01, 0x00, 0x01};
    FrameDecoder decoder(LinkType::Ethernet, static_cast<std::uint16_t>(bus.port()));
    const auto sendBoth = [&] {
        sender.sendTo(other.port(), elsewhere);
        sender.sendTo(bus.port(), onBus);
    };
    const std::vector<Bytes> seen = readPayloads(
        helper, decoder, [](const std::vector<Bytes>& got) { return got.size() >= 2; }, sendBoth);
    ASSERT_GE(seen.size(), 2u);
    for (const Bytes& payload : seen) {
        EXPECT_EQ(payload, onBus);
    }

    helper.stop();
    readPayloads(
        helper, decoder, [](const std::vector<Bytes>&) { return false; }, [] {});
    EXPECT_EQ(helper.fd(), -1) << "the stream ends once the helper is asked to stop";
}

TEST(HelperCapture, EachFailureToStartNamesItsCause) {
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("qvlink-helper-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    const std::filesystem::path notExecutable = scratch / "qvlink-capture";
    std::filesystem::copy_file(QVLINK_CAPTURE_HELPER, notExecutable,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(notExecutable, std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write |
                                                    std::filesystem::perms::group_read);
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        std::string helper;
        const char* interface;
        const char* message;
    } cases[] = {
        {"helper not installed", (scratch / "missing").string(), "lo", "is missing"},
        {"helper not executable by this user", notExecutable.string(), "lo",
         "permission denied: live capture is for root and the members of group qvlink, who may "
         "run "},
        {"no such interface", QVLINK_CAPTURE_HELPER, "qvlink-none0",
         root ? "qvlink-capture: no such interface: qvlink-none0 (capture interfaces: "
              : "qvlink-capture: permission denied: live capture needs root or cap_net_raw on "},
    };
    for (const auto& c : cases) {
        try {
            HelperCapture helper(c.helper, c.interface, 973, CaptureFilter::Bus);
            helper.awaitStart();
            ADD_FAILURE() << c.name << ": the capture started";
        } catch (const CaptureError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << c.name << ": " << error.what();
        }
    }
    std::filesystem::remove_all(scratch);
}

}  // namespace
}  // namespace qvlink::capture
