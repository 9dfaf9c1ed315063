#include "capture_file/bus_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "capture_file/capture_file_reader.h"
#include "dump/capture_file.h"
#include "support/scratch_folder.h"

namespace qvlink::capture {
namespace {

using test::Bytes;
using test::CaptureFile;
using test::UdpEndpoints;

constexpr std::uint16_t kPort = 973;
constexpr std::size_t kLongest = 240;    // the bus's longest datagram
const timeval kStart{1'718'454'600, 0};  // 2024-06-15 12:30:00 UTC

std::int64_t micros(const timeval& time) {
    return std::int64_t{time.tv_sec} * 1'000'000 + time.tv_usec;
}

class BusCaptureTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return m_folder + "/" + name; }

    /// A capture of one datagram {first, 0xCE} from 10.0.0.5 per offset (ms after kStart).
    void writeDatagrams(const std::string& name, std::uint8_t first,
                        const std::vector<long>& offsetsMs) {
        CaptureFile file(path(name), DLT_EN10MB);
        for (const long ms : offsetsMs) {
            file.addDatagram(test::later(kStart, ms), Bytes{first, 0xCE});
        }
    }

    /// The first byte of every datagram loaded, in order.
    static std::vector<int> firstBytes(const BusCapture& capture) {
        std::vector<int> bytes;
        for (const CapturedDatagram& datagram : capture.datagrams) {
            bytes.push_back(capture.payload(datagram)[0]);
        }
        return bytes;
    }

    test::ScratchDirectory m_scratch;
    const std::string m_folder = m_scratch.path();
};

TEST_F(BusCaptureTest, KeepsWholeBusDatagramsAndCountsEveryOtherFrameByKind) {
    const UdpEndpoints bus;
    UdpEndpoints otherPort = bus;
    otherPort.sourcePort = otherPort.destinationPort = 53;
    const Bytes datagram{0xFA, 0xCE, 1, 2, 3};
    // A datagram of 200 bytes sent in two IP fragments: UDP header and 96 bytes, then the rest.
    const Bytes segment = test::udpSegment(bus, Bytes(200, 0x11));
    const Bytes firstPiece(segment.begin(), segment.begin() + 104);
    const Bytes secondPiece(segment.begin() + 104, segment.end());
    {
        CaptureFile file(path("mixed.pcap"), DLT_EN10MB);
        file.addDatagram(kStart, datagram);
        file.addDatagram(kStart, datagram, otherPort);
        file.addFrame(
            kStart,
            test::linkFrame(DLT_EN10MB, test::ipv4Packet(bus, 6, test::udpSegment(bus, datagram))));
        file.addFrame(kStart, Bytes{1, 2, 3});  // shorter than any header
        file.addFrame(
            kStart, test::linkFrame(DLT_EN10MB, test::ipv4Packet(bus, 17, firstPiece, 77, 0x2000)));
        file.addFrame(kStart, test::linkFrame(DLT_EN10MB,
                                              test::ipv4Packet(bus, 17, secondPiece, 77, 104 / 8)));
        const Bytes whole =
            test::linkFrame(DLT_EN10MB, test::ipv4Packet(bus, 17, test::udpSegment(bus, datagram)));
        file.addFrame(test::later(kStart, 5), Bytes(whole.begin(), whole.end() - 2), whole.size());
        // Too long for the bus, and cut to a receiver's buffer: its length alone decides it.
        const Bytes tooLong = test::linkFrame(
            DLT_EN10MB, test::ipv4Packet(bus, 17, test::udpSegment(bus, Bytes(kLongest + 1, 7))));
        file.addFrame(test::later(kStart, 6), Bytes(tooLong.begin(), tooLong.end() - 1),
                      tooLong.size());
    }
    const BusCapture capture = loadBusCapture({path("mixed.pcap")}, kPort, kLongest);

    // The head of a fragmented datagram is a bus datagram cut short by the network.
    ASSERT_EQ(capture.datagrams.size(), 2U);
    const CapturedDatagram& kept = capture.datagrams[0];
    EXPECT_EQ(kept.timeUs, micros(kStart));
    EXPECT_EQ(kept.sourceIp, test::ipv4(10, 0, 0, 5));
    EXPECT_EQ(kept.length, datagram.size());
    const auto payload = capture.payload(kept);
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), datagram);
    const CapturedDatagram& cut = capture.datagrams[1];
    EXPECT_EQ(cut.size, kLongest);
    EXPECT_EQ(cut.length, kLongest + 1);
    EXPECT_EQ(capture.skips.notBus, 3U);
    EXPECT_EQ(capture.skips.fragments, 1U);
    EXPECT_EQ(capture.skips.truncated, 2U);
    EXPECT_TRUE(capture.problems.empty());
}

TEST_F(BusCaptureTest, FilesOfASetAreReplayedInTheOrderOfTheirFirstTimestamp) {
    writeDatagrams("b-first.pcap", 1, {0, 1000});
    writeDatagrams("a-second.pcap", 2, {2000, 3000});
    writeDatagrams("c-third.pcap", 3, {4000});
    const BusCapture capture = loadBusCapture(
        {path("c-third.pcap"), path("a-second.pcap"), path("b-first.pcap")}, kPort, kLongest);
    EXPECT_EQ(firstBytes(capture), (std::vector<int>{1, 1, 2, 2, 3}));
    EXPECT_EQ(capture.files, (std::vector<std::string>{path("b-first.pcap"), path("a-second.pcap"),
                                                       path("c-third.pcap")}));
}

TEST_F(BusCaptureTest, AFolderIsReadWholeAndWhatIsNoCaptureInItIsAProblem) {
    std::filesystem::create_directory(path("set"));
    writeDatagrams("set/capture-2.pcap", 2, {1000});
    writeDatagrams("set/capture-1.pcap", 1, {0});
    std::ofstream(path("set/notes.txt")) << "written by hand\n";
    const BusCapture capture = loadBusCapture({path("set")}, kPort, kLongest);
    EXPECT_EQ(firstBytes(capture), (std::vector<int>{1, 2}));
    ASSERT_EQ(capture.problems.size(), 1U);
    EXPECT_NE(capture.problems[0].find("notes.txt"), std::string::npos) << capture.problems[0];
}

TEST_F(BusCaptureTest, ProgressRisesToTheWholeSetAndCanGiveTheLoadUp) {
    std::vector<long> offsets(10'000);
    std::iota(offsets.begin(), offsets.end(), 0);
    std::filesystem::create_directory(path("set"));
    writeDatagrams("set/a.pcap", 1, offsets);
    writeDatagrams("set/b.pcap", 2, offsets);
    const std::uint64_t total = std::filesystem::file_size(path("set/a.pcap")) +
                                std::filesystem::file_size(path("set/b.pcap"));

    std::vector<std::pair<std::uint64_t, std::uint64_t>> told;
    const BusCapture capture = loadBusCapture({path("set")}, kPort, kLongest,
                                              [&told](std::uint64_t read, std::uint64_t all) {
                                                  told.emplace_back(read, all);
                                                  return true;
                                              });
    EXPECT_EQ(capture.datagrams.size(), 20'000U);
    ASSERT_GE(told.size(), 4U) << "every few thousand frames and at the end of each file";
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back(), std::make_pair(total, total));
    EXPECT_LT(told.front().first, total / 2);

    int calls = 0;
    EXPECT_THROW(loadBusCapture({path("set")}, kPort, kLongest,
                                [&calls](std::uint64_t, std::uint64_t) { return ++calls < 2; }),
                 CaptureLoadCancelled);
    EXPECT_EQ(calls, 2) << "the load stops at the first refusal";
}

TEST_F(BusCaptureTest, TimeThatStepsBackIsReadAsStandingStill) {
    writeDatagrams("steps.pcap", 1, {0, 2000, 1500, 3000});
    const BusCapture capture = loadBusCapture({path("steps.pcap")}, kPort, kLongest);
    std::vector<std::int64_t> offsets;
    for (const CapturedDatagram& datagram : capture.datagrams) {
        offsets.push_back((datagram.timeUs - micros(kStart)) / 1000);
    }
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{0, 2000, 2000, 3000}));
}

TEST_F(BusCaptureTest, ALastRecordCutShortKeepsWhatCameBeforeAndNamesTheFile) {
    writeDatagrams("cut.pcap", 1, {0, 1000, 2000});
    std::filesystem::resize_file(path("cut.pcap"),
                                 std::filesystem::file_size(path("cut.pcap")) - 5);
    const BusCapture capture = loadBusCapture({path("cut.pcap")}, kPort, kLongest);
    EXPECT_EQ(capture.datagrams.size(), 2U);
    ASSERT_EQ(capture.problems.size(), 1U);
    EXPECT_NE(capture.problems[0].find("cut.pcap: truncated"), std::string::npos)
        << capture.problems[0];
}

TEST_F(BusCaptureTest, NamedFilesThatAreNoReadableCaptureAreRefusedWithTheCause) {
    std::ofstream(path("notes.txt")) << "not a capture\n";
    {
        CaptureFile wifi(path("wifi.pcap"), DLT_IEEE802_11);
        wifi.addFrame(kStart, Bytes(24, 0));
    }
    std::filesystem::create_directory(path("empty"));
    struct Case {
        std::string file;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {path("missing.pcap"), "cannot read capture file"},
             {path("notes.txt"), "cannot read capture file"},
             {path("wifi.pcap"), "unsupported link type IEEE802_11"},
             {path("empty"), "no capture file to read"},
         }) {
        try {
            loadBusCapture({c.file}, kPort, kLongest);
            ADD_FAILURE() << c.file << " was read";
        } catch (const CaptureFileError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace qvlink::capture
