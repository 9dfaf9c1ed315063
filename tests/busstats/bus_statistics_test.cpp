#include "busstats/bus_statistics.h"

#include <gtest/gtest.h>

#include <vector>

#include "busstats/scripted_bus.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::ScriptedBus;
using test::sequencedDatagram;

/// A 12-byte TS report of device 01:00:00:0A with sequence number `seq`.
std::vector<std::uint8_t> tsReport(std::uint8_t seq, std::uint32_t address = 0x0A) {
    return sequencedDatagram(1, address, seq, kClassTs, kSubtypeCyclic, {5, 0, 1});
}

TEST(BusStatistics, ADeviceOnASecondRhythmTurnsLateAfterThreeSilentSeconds) {
    ScriptedBus bus;
    for (std::uint8_t seq = 0; seq < 10; ++seq) {
        bus.send(seq * 1000, tsReport(seq));
    }

    DeviceStatisticsView view = bus.view(1, 9000);
    EXPECT_EQ(view.device.total, 10u);
    EXPECT_EQ(view.bytes, 120u);
    EXPECT_DOUBLE_EQ(view.ratePerSecond, 1.0);
    EXPECT_EQ(view.gapsLearned, 9);
    EXPECT_DOUBLE_EQ(view.intervalMs, 1000);
    EXPECT_DOUBLE_EQ(view.spreadMs, 0);
    EXPECT_DOUBLE_EQ(view.silenceMs, 0);

    struct Moment {
        std::int64_t ms;
        bool late;
        double rate;
    };
    for (const Moment& moment : {Moment{12000, false, 0.7}, Moment{12001, true, 0.7},
                                 Moment{18999, true, 0.1}, Moment{19000, true, 0.0}}) {
        view = bus.view(1, moment.ms);
        EXPECT_EQ(view.late, moment.late) << moment.ms;
        EXPECT_DOUBLE_EQ(view.ratePerSecond, moment.rate) << moment.ms;
        EXPECT_DOUBLE_EQ(view.silenceMs, static_cast<double>(moment.ms - 9000)) << moment.ms;
    }

    // Each silence is reported once, when it becomes late.
    EXPECT_TRUE(bus.statistics.takeNewlyLate(12000).empty());
    EXPECT_EQ(bus.statistics.takeNewlyLate(12001), std::vector<int>{1});
    EXPECT_TRUE(bus.statistics.takeNewlyLate(15000).empty());

    // The 4 s gap is learned as 3 s: mean 1.2 s, spread 0.6 s, late after 3.6 s.
    bus.send(13000, tsReport(10));
    view = bus.view(1, 13000);
    EXPECT_FALSE(view.late);
    EXPECT_NEAR(view.intervalMs, 1200, 1e-9);
    EXPECT_NEAR(view.spreadMs, 600, 1e-9);
    EXPECT_TRUE(bus.statistics.takeNewlyLate(16600).empty());
    EXPECT_EQ(bus.statistics.takeNewlyLate(16601), std::vector<int>{1});
}

TEST(BusStatistics, RestartsAreTimedAndSequenceGapsCountedAsTheRegistryCounts) {
    ScriptedBus bus;
    bus.send(0, tsReport(5, 0x0B));
    bus.send(250, tsReport(6, 0x0B));
    EXPECT_FALSE(bus.view(1, 250).lastRestart.has_value());
    bus.send(500, tsReport(8, 0x0B));
    bus.send(20750, tsReport(0, 0x0B));
    bus.send(21000, tsReport(1, 0x0B));

    const DeviceStatisticsView view = bus.view(1, 21000);
    EXPECT_EQ(view.device.missed, 1);
    EXPECT_EQ(view.device.restarts, 1);
    ASSERT_TRUE(view.lastRestart.has_value());
    EXPECT_EQ(*view.lastRestart, ScriptedBus::localTimeAt(20750));
}

TEST(BusStatistics, DropsAreCountedByReasonWithTheLastSender) {
    ScriptedBus bus;
    std::vector<std::uint8_t> badMagic = tsReport(0);
    badMagic[1] = 0xCF;
    std::vector<std::uint8_t> tooLong = tsReport(0);
    tooLong.resize(kMaxDatagramSize + 1);
    const std::vector<std::uint8_t> tooShort{0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3};
    const std::vector<std::uint8_t> unknownType = sequencedDatagram(2, 1, 0, kClassTs, 2, {5});

    bus.send(0, badMagic, "10.0.0.9");
    bus.send(1, tooShort, "10.0.0.10");
    bus.send(2, tooShort, "10.0.0.11");
    bus.send(3, unknownType, "10.0.0.12");
    bus.send(4, tooLong, "10.0.0.13");
    bus.send(5, badMagic, "10.0.0.14");
    bus.send(6, tsReport(0), "10.0.0.15");

    const struct {
        DropReason reason;
        DropTally tally;
    } expected[] = {
        {DropReason::NoMagic, {2, "10.0.0.14"}},
        {DropReason::TooShort, {2, "10.0.0.11"}},
        {DropReason::UnknownType, {1, "10.0.0.12"}},
        {DropReason::TooLong, {1, "10.0.0.13"}},
        {DropReason::Empty, {0, ""}},
        {DropReason::Fragment, {0, ""}},
    };
    for (const auto& row : expected) {
        EXPECT_EQ(bus.statistics.dropped(row.reason), row.tally) << dropReasonName(row.reason);
    }
    EXPECT_EQ(bus.statistics.droppedCount(), 6u);
    EXPECT_EQ(bus.statistics.acceptedCount(), 1u);
    EXPECT_EQ(bus.statistics.deviceCount(), 1);

    // The endpoint's own counts replace the tally of their reason.
    bus.statistics.setDropTally(DropReason::Empty, {3, "10.0.0.20"});
    bus.statistics.setDropTally(DropReason::Empty, {4, "10.0.0.21"});
    EXPECT_EQ(bus.statistics.dropped(DropReason::Empty), (DropTally{4, "10.0.0.21"}));
    EXPECT_EQ(bus.statistics.droppedCount(), 10u);
}

TEST(BusStatistics, TrafficIsCountedByDeviceTypeAndClass) {
    ScriptedBus bus;
    bus.send(0, tsReport(0));
    bus.send(1, tsReport(1));
    bus.send(2, sequencedDatagram(1, 0x0A, 2, kClassTi, kSubtypeCyclic, {1, 0, 0, 0, 0, 0, 0}));
    bus.send(3, test::classOnlyDatagram(8, 0xFF, kClassOnlyTs));
    bus.send(4, test::classOnlyDatagram(204, 0xFE, kClassOnlyTs));

    const std::map<TypeAndClass, std::uint64_t> expected{
        {{1, kClassTi}, 1}, {{1, kClassTs}, 2}, {{8, kClassOnlyTs}, 1}, {{204, kClassOnlyTs}, 1}};
    EXPECT_EQ(bus.statistics.byTypeAndClass(), expected);
    EXPECT_EQ(bus.statistics.deviceCount(), 3);
    EXPECT_EQ(bus.view(2, 4).bytes, 10u);
}

}  // namespace
}  // namespace qvlink
