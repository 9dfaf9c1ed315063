// A trace shown while datagrams with ever new texts are logged: every frame lays out new texts,
// and the memory that the grid keeps for them must stay bounded.

#include <gtest/gtest.h>

#include <random>

#include "app/monitor_fixture.h"
#include "fault_support.h"
#include "protocol/packets.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

constexpr int kRecords = 20000;
constexpr int kWarmUpRecords = 2000;
/// Records logged between two frames: the rows move up by this many, so every frame shows
/// new texts.
constexpr int kRecordsPerFrame = 25;

/// A text message of 200 random Cyrillic letters: a full-width dump and a long description.
TPacket textMessage(std::mt19937& random) {
    std::vector<std::uint8_t> letters(200);
    for (std::uint8_t& letter : letters) {
        letter = static_cast<std::uint8_t>(0xC0 + random() % 64);
    }
    const std::vector<std::uint8_t> bytes =
        test::busDatagram(1, 0x000007, 0, kClassText, 0, letters);
    TPacket packet;
    EXPECT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    return packet;
}

TEST(TraceFlood, DistinctTextsInEveryFrameKeepMemoryBounded) {
    test::Monitor monitor;
    monitor.main->BOpenTraceClick();
    std::mt19937 random(7);
    std::int64_t residentAfterWarmUp = 0;
    for (int record = 1; record <= kRecords; ++record) {
        monitor.trace->addTraceRecord("127.0.0.7", textMessage(random));
        if (record % kRecordsPerFrame == 0) {
            monitor.trace->GridTrace->grab();  // paints the visible cells now
        }
        if (record == kWarmUpRecords) {
            residentAfterWarmUp = test::residentBytes();
        }
    }
    const std::int64_t growth = test::residentBytes() - residentAfterWarmUp;
    EXPECT_EQ(monitor.trace->GridTrace->RowCount(), TraceLog::kMaxRowCount);
    EXPECT_LT(growth, test::kResidentGrowthBound);
    test::printFigure(
        "trace flood: %d distinct records, %d frames, RSS growth %.2f MB after "
        "the first %d",
        kRecords, kRecords / kRecordsPerFrame, test::megabytes(growth), kWarmUpRecords);
}

}  // namespace
}  // namespace qvlink
