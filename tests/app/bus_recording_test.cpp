// The monitor's recording of what its endpoint receives: every datagram, dropped ones and
// those longer than the buffer included, read back from the file.

#include "recording/bus_recording.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture_file/frame_decoder.h"
#include "capture_file/udp_frame.h"
#include "common/clock.h"
#include "monitor_fixture.h"
#include "support/packet_builder.h"
#include "support/pcap_records.h"
#include "support/scratch_folder.h"

namespace qvlink::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MonitorRecording, WritesEveryReceivedDatagramInOrderWithTheTraceTime) {
    ScratchDirectory folder;
    BusRecording recording({});
    recording.setFolder(folder.path());
    recording.start();
    const std::string path = recording.status().path;
    Monitor monitor;
    monitor.main->recordBus(recording);

    Bytes wrongSignature = sequencedDatagram(1, 0x000102, 1, kClassTs, 2, {0, 0});
    wrongSignature[0] = 0x00;
    Bytes unknownType = sequencedDatagram(99, 0x000102, 1, kClassTs, 2, {0, 0});
    Bytes oversized(kMaxDatagramSize + 60, 0xAB);
    const std::vector<Bytes> sent = {
        sequencedDatagram(1, 0x000102, 1, kClassSilence, 0, {0}),  // accepted
        wrongSignature,
        Bytes{kMagic0, kMagic1, 1},  // too short
        unknownType,
        oversized,  // longer than the endpoint's buffer: discarded by it, yet recorded
        sequencedDatagram(1, 0x000102, 2, kClassSilence, 0, {0}),  // accepted
    };
    const std::int64_t before = systemEpochMicros();
    LoopbackUdpSocket sender;
    for (const Bytes& datagram : sent) {
        sender.sendTo(monitor.busPort(), datagram);
    }
    ASSERT_TRUE(processEventsUntil([&] { return recording.status().written == sent.size(); }))
        << recording.status().written;
    const std::int64_t after = systemEpochMicros();
    recording.stop();
    ASSERT_TRUE(processEventsUntil([&] { return readPcap(path).records.size() == sent.size(); }));

    const PcapContents file = readPcap(path);
    capture::FrameDecoder decoder(capture::LinkType::Ethernet,
                                  static_cast<std::uint16_t>(monitor.busPort()));
    std::int64_t previous = before;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const PcapRecord& record = file.records[i];
        const capture::FrameDatagram found =
            decoder.decode(record.frame.data(), record.frame.size());
        const std::size_t kept = std::min(sent[i].size(), kMaxDatagramSize);
        EXPECT_EQ(found.kind, sent[i].size() > kMaxDatagramSize ? capture::FrameKind::Truncated
                                                                : capture::FrameKind::Datagram)
            << i;
        EXPECT_EQ(found.sourceIp, 0x7F000001U) << i;
        EXPECT_EQ(found.datagramSize, sent[i].size()) << i;
        ASSERT_EQ(found.capturedSize, kept) << i;
        EXPECT_TRUE(std::equal(sent[i].begin(), sent[i].begin() + kept, found.payload)) << i;
        EXPECT_EQ(record.wireLength, kUdpFrameHeaderBytes + sent[i].size()) << i;
        EXPECT_EQ(udpSourcePort(record.frame), sender.port()) << i;
        EXPECT_EQ(udpDestinationPort(record.frame), monitor.busPort()) << i;
        EXPECT_GE(record.epochMicros, previous) << i;
        EXPECT_LE(record.epochMicros, after) << i;
        previous = record.epochMicros;
    }
    // The pipeline dropped four, yet every one is in the file; the trace's time of the last
    // datagram is the recorded one.
    monitor.main->updateBusStatistics();
    EXPECT_EQ(monitor.main->statistics().droppedCount(), 4U);
    EXPECT_EQ(monitor.main->arrivalTime(), localTimeOf(file.records.back().epochMicros));
}

}  // namespace
}  // namespace qvlink::test
