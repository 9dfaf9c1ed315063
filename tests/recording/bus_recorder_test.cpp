#include "recording/bus_recorder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_file/udp_frame.h"
#include "recording/bus_recording.h"
#include "support/pcap_records.h"
#include "support/scratch_folder.h"

namespace qvlink {
namespace {

using test::PcapContents;
using test::readPcap;
using test::ScratchDirectory;

/// Notices as the event log would get them, from the writer's thread.
struct NoticeLog {
    std::mutex mutex;
    std::vector<std::string> texts;

    BusRecorder::Notice sink() {
        return [this](const std::string& text, bool) {
            const std::lock_guard lock(mutex);
            texts.push_back(text);
        };
    }
    std::vector<std::string> taken() {
        const std::lock_guard lock(mutex);
        return texts;
    }
};

template <typename Predicate>
bool waitFor(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<std::uint8_t> bytesOf(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i);
    }
    return bytes;
}

const DatagramEndpoints kFromDevice{0x0A000005, 973, 0, 973};

TEST(BusRecorder, WritesEveryDatagramInOrderWithItsTimeAndTrueLength) {
    ScratchDirectory folder;
    const std::string path = folder.file("bus.pcap");
    const auto whole = bytesOf(30, 1);
    const auto kept = bytesOf(240, 2);
    const auto empty = std::vector<std::uint8_t>{};
    {
        BusRecorder recorder(path, {}, {});
        recorder.record(1'765'000'000'123'456, kFromDevice, whole, whole.size());
        recorder.record(1'765'000'000'123'999, {0x7F000001, 40000, 0x7F000001, 5000}, kept, 1500);
        recorder.record(1'765'000'001'000'000, kFromDevice, empty, 0);
        EXPECT_EQ(recorder.path(), path);
    }  // writes out what is queued and closes the file

    const PcapContents file = readPcap(path);
    ASSERT_TRUE(file.opened) << file.error;
    EXPECT_EQ(file.linkType, DLT_EN10MB);
    ASSERT_EQ(file.records.size(), 3U);
    const std::int64_t times[] = {1'765'000'000'123'456, 1'765'000'000'123'999,
                                  1'765'000'001'000'000};
    const std::size_t lengths[] = {30, 1500, 0};
    const std::size_t keptSizes[] = {30, 240, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(file.records[i].epochMicros, times[i]) << i;
        EXPECT_EQ(file.records[i].wireLength, kUdpFrameHeaderBytes + lengths[i]) << i;
        EXPECT_EQ(file.records[i].frame.size(), kUdpFrameHeaderBytes + keptSizes[i]) << i;
    }
    EXPECT_EQ(test::udpSourcePort(file.records[1].frame), 40000);
    EXPECT_EQ(test::udpDestinationPort(file.records[1].frame), 5000);
    EXPECT_TRUE(
        std::equal(kept.begin(), kept.end(), file.records[1].frame.begin() + kUdpFrameHeaderBytes));
}

// /dev/full takes the file header into the stream's buffer and fails the first flush with
// ENOSPC, as a disk that fills up does.
TEST(BusRecorder, AFullDiskEndsTheRecordingWithANotice) {
    NoticeLog notices;
    BusRecorder recorder("/dev/full", {}, notices.sink());
    const auto datagram = bytesOf(20, 3);
    recorder.record(1, kFromDevice, datagram, datagram.size());
    ASSERT_TRUE(waitFor([&] { return recorder.finished(); }));
    EXPECT_TRUE(recorder.failed());
    const std::vector<std::string> texts = notices.taken();
    ASSERT_EQ(texts.size(), 1U);
    EXPECT_NE(texts[0].find("Запись шины остановлена"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("/dev/full"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("No space left on device"), std::string::npos) << texts[0];

    recorder.record(2, kFromDevice, datagram, datagram.size());  // ignored, not counted
    EXPECT_EQ(recorder.notRecorded(), 0U);
}

// A FIFO without a reader holds the writer in its open: nothing leaves the queue, which
// fills; the rest is counted, and once a reader comes the queued datagrams arrive whole.
TEST(BusRecorder, AStalledWriterCountsWhatFoundTheQueueFull) {
    ScratchDirectory folder;
    const std::string fifo = folder.file("stalled.pcap");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string copy = folder.file("copy.pcap");
    constexpr std::size_t kQueue = 4;
    {
        BusRecorder recorder(fifo, {}, {}, kQueue);
        const auto datagram = bytesOf(16, 4);
        for (int i = 0; i < 10; ++i) {
            recorder.record(i, kFromDevice, datagram, datagram.size());
        }
        EXPECT_EQ(recorder.notRecorded(), 6U);
        EXPECT_EQ(recorder.written(), 0U);

        std::thread reader([&] {
            const int in = open(fifo.c_str(), O_RDONLY);
            std::FILE* out = std::fopen(copy.c_str(), "wb");
            char buffer[4096];
            ssize_t got = 0;
            while ((got = read(in, buffer, sizeof buffer)) > 0) {
                std::fwrite(buffer, 1, static_cast<std::size_t>(got), out);
            }
            std::fclose(out);
            close(in);
        });
        EXPECT_TRUE(waitFor([&] { return recorder.written() == kQueue; }));
        recorder.stop();
        EXPECT_TRUE(waitFor([&] { return recorder.finished(); }));
        reader.join();
        EXPECT_FALSE(recorder.failed());
    }
    const PcapContents file = readPcap(copy);
    ASSERT_TRUE(file.opened) << file.error;
    ASSERT_EQ(file.records.size(), kQueue);
    for (std::size_t i = 0; i < kQueue; ++i) {
        EXPECT_EQ(file.records[i].epochMicros, static_cast<std::int64_t>(i));
    }
}

TEST(BusRecorder, RotatesIntoARingOfFilesThatEachReadOnTheirOwn) {
    ScratchDirectory folder;
    const std::string path = folder.file("ring.pcap");
    const auto datagram = bytesOf(100, 5);
    // 24-byte file header, then 16 + 42 + 100 bytes a record: two records a file.
    const RotationLimits limits{24 + 2 * 158, 3};
    {
        BusRecorder recorder(path, limits, {});
        for (int i = 0; i < 7; ++i) {
            recorder.record(i, kFromDevice, datagram, datagram.size());
        }
    }
    // 7 records in files of 2: the oldest two files fell away.
    const std::pair<std::string, std::vector<std::int64_t>> expected[] = {
        {path, {6}}, {path + ".1", {4, 5}}, {path + ".2", {2, 3}}};
    for (const auto& [member, times] : expected) {
        const PcapContents file = readPcap(member);
        ASSERT_TRUE(file.opened) << member << ": " << file.error;
        std::vector<std::int64_t> found;
        for (const auto& record : file.records) {
            found.push_back(record.epochMicros);
        }
        EXPECT_EQ(found, times) << member;
    }
    EXPECT_FALSE(std::filesystem::exists(path + ".3"));
}

TEST(RecordingFilePath, IsNamedForTheLocalTimeAndNeverReplacesAFile) {
    ScratchDirectory folder;
    const std::int64_t micros = 1'765'000'000'000'000;
    const LocalDateTime time = localTimeOf(micros);
    char stem[64];
    std::snprintf(stem, sizeof stem, "/qvlink-%04d%02d%02d-%02d%02d%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    const std::string first = recordingFilePath(folder.path(), micros);
    EXPECT_EQ(first, folder.path() + stem + ".pcap");
    std::fclose(std::fopen(first.c_str(), "wb"));
    const std::string second = recordingFilePath(folder.path(), micros);
    EXPECT_EQ(second, folder.path() + stem + "-2.pcap");
}

TEST(BusRecording, RecordsOnlyBetweenStartAndStopAndKeepsShowingTheLastFile) {
    ScratchDirectory folder;
    std::int64_t now = 1'765'000'000'000'000;
    BusRecording recording({}, [&now] { return now; });
    recording.setFolder(folder.path());
    const auto datagram = bytesOf(12, 6);
    recording.record(1, kFromDevice, datagram, datagram.size());  // not recording yet
    EXPECT_FALSE(recording.status().recording);
    EXPECT_EQ(recording.status().path, "");

    const std::string path = recordingFilePath(folder.path(), now);
    recording.start();
    EXPECT_EQ(recording.status().path, path);
    recording.record(2, kFromDevice, datagram, datagram.size());
    recording.record(3, kFromDevice, datagram, datagram.size());
    recording.stop();
    recording.record(4, kFromDevice, datagram, datagram.size());  // stopped
    ASSERT_TRUE(waitFor([&] { return recording.status().written == 2; }));
    const RecordingStatus stopped = recording.status();
    EXPECT_FALSE(stopped.recording);
    EXPECT_FALSE(stopped.failed);
    EXPECT_EQ(stopped.path, path);
    EXPECT_EQ(readPcap(path).records.size(), 2U);

    now += 5'000'000;
    recording.start();
    EXPECT_TRUE(recording.status().recording);
    EXPECT_NE(recording.status().path, path);
    EXPECT_EQ(recording.status().written, 0U);
}

}  // namespace
}  // namespace qvlink
