// Live capture through the capture helper of the build: bus datagrams of a loopback port
// arrive and nothing else, a stop ends the stream cleanly, and every way the capture cannot
// start is told with its cause.

#include "capture/helper_capture.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture/helper_report.h"
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
    EXPECT_EQ(helper.kernelDrops(), 0u);
}

TEST(HelperCapture, FramesTheKernelDroppedWhileNobodyReadAreReportedAtTheEnd) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "live capture through the helper of the build tree needs root";
    }
    test::LoopbackUdpSocket bus;
    test::LoopbackUdpSocket sender;
    HelperCapture helper(QVLINK_CAPTURE_HELPER, "lo", static_cast<std::uint16_t>(bus.port()),
                         CaptureFilter::Bus);
    ASSERT_TRUE(helper.awaitStart());
    helper.setNonBlocking();
    // Nothing is read meanwhile: the pipe fills, then the helper's ring in the kernel, which
    // holds a few hundred thousand frames of this size.
    const Bytes datagram{0xFA, 0xCE, 0x01, 0x00, 0xAB, 0xCD, 0x01, 0x02, 0x02, 0x01, 0x00, 0x01};
    constexpr int kSent = 400'000;
    for (int i = 0; i < kSent; ++i) {
        sender.sendTo(bus.port(), datagram);
    }
    FrameDecoder decoder(LinkType::Ethernet, static_cast<std::uint16_t>(bus.port()));
    std::size_t captured = 0;
    // Until the helper has passed on what it kept; then it is asked to end.
    for (std::size_t before = SIZE_MAX; captured != before;) {
        before = captured;
        captured += readPayloads(
                        helper, decoder, [](const std::vector<Bytes>&) { return false; }, [] {}, 1s)
                        .size();
    }
    helper.stop();
    readPayloads(
        helper, decoder, [](const std::vector<Bytes>&) { return false; }, [] {});
    ASSERT_EQ(helper.fd(), -1);
    EXPECT_LT(captured, static_cast<std::size_t>(kSent));
    EXPECT_GE(helper.kernelDrops(), kSent - captured)
        << "every datagram missing was dropped in the kernel (on loopback each is seen going "
           "out and coming in)";
}

TEST(HelperReport, TheClosingLineIsTakenOutOfWhatTheHelperSaid) {
    const std::string line = kernelDropsLine(1234);
    const struct {
        const char* name;
        std::string message;
        std::uint64_t frames;
        std::string rest;
    } cases[] = {
        {"the line alone", line + "\n", 1234, ""},
        {"after a failure", "cannot write standard output\n" + line, 1234,
         "cannot write standard output"},
        {"none", "capture failed: boom", 0, "capture failed: boom"},
        {"not a number",
         "qvlink-capture: the kernel dropped many captured frames: the capture "
         "fell behind",
         0, "qvlink-capture: the kernel dropped many captured frames: the capture fell behind"},
        {"nothing", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string message = c.message;
        EXPECT_EQ(takeKernelDrops(message), c.frames);
        EXPECT_EQ(message, c.rest);
    }
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
