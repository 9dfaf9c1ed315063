#include "capture_file/udp_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture_file/frame_decoder.h"

namespace qvlink {
namespace {

constexpr std::size_t kIpv4Start = 14;
constexpr std::size_t kIpv4Bytes = 20;

std::uint16_t word(const std::vector<std::uint8_t>& frame, std::size_t at) {
    return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

struct FrameCase {
    const char* name;
    std::size_t kept;
    std::size_t length;  ///< true length of the datagram
    capture::FrameKind kind;
};

class UdpFrameTable : public ::testing::TestWithParam<FrameCase> {};

// The frames go through the decoder that reads captures, so what it finds is what a reader
// of the recording finds.
TEST_P(UdpFrameTable, HeadersAnnounceTheTrueLengthAndTheDecoderFindsTheDatagram) {
    const FrameCase& row = GetParam();
    std::vector<std::uint8_t> datagram(row.kept);
    for (std::size_t i = 0; i < datagram.size(); ++i) {
        datagram[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    const DatagramEndpoints endpoints{0x0A000105, 40001, 0x7F000001, 973};
    std::vector<std::uint8_t> frame{0xEE};  // replaced, not appended to
    const std::size_t wire = synthesizeUdpFrame(endpoints, datagram, row.length, frame);

    EXPECT_EQ(frame.size(), kUdpFrameHeaderBytes + row.kept);
    EXPECT_EQ(wire, kUdpFrameHeaderBytes + row.length);
    EXPECT_EQ(word(frame, 12), 0x0800);                           // IPv4
    EXPECT_EQ(word(frame, kIpv4Start + 2), 28 + row.length);      // IPv4 total length
    EXPECT_EQ(word(frame, kIpv4Start + 20 + 4), 8 + row.length);  // UDP length
    EXPECT_EQ(internetChecksum({frame.data() + kIpv4Start, kIpv4Bytes}), 0)
        << "the IPv4 header checksum must verify";

    capture::FrameDecoder decoder(capture::LinkType::Ethernet, 973);
    const capture::FrameDatagram found = decoder.decode(frame.data(), frame.size());
    EXPECT_EQ(found.kind, row.kind);
    EXPECT_EQ(found.sourceIp, 0x0A000105U);
    EXPECT_EQ(found.datagramSize, row.length);
    ASSERT_EQ(found.capturedSize, row.kept);
    EXPECT_EQ(std::vector<std::uint8_t>(found.payload, found.payload + found.capturedSize),
              datagram);
    EXPECT_EQ(word(frame, 34), 40001);
    EXPECT_EQ(word(frame, 36), 973);
}

INSTANTIATE_TEST_SUITE_P(
    UdpFrame, UdpFrameTable,
    ::testing::Values(FrameCase{"Whole", 24, 24, capture::FrameKind::Datagram},
                      FrameCase{"OddLength", 11, 11, capture::FrameKind::Datagram},
                      FrameCase{"Empty", 0, 0, capture::FrameKind::Datagram},
                      FrameCase{"TruncatedToTheBuffer", 240, 1000, capture::FrameKind::Truncated}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST(UdpFrame, ALengthBelowTheKeptBytesIsTheKeptLengthAndOneBeyondIpv4IsCapped) {
    const std::vector<std::uint8_t> datagram(10, 0x55);
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(synthesizeUdpFrame({}, datagram, 3, frame), kUdpFrameHeaderBytes + 10);
    EXPECT_EQ(synthesizeUdpFrame({}, datagram, 100'000, frame),
              kUdpFrameHeaderBytes + kMaxUdpDatagramBytes);
    EXPECT_EQ(word(frame, kIpv4Start + 2), 65535);
}

}  // namespace
}  // namespace qvlink
