// What a monitor sees of the simulator's scenarios, through its own registry and tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "sim_test_support.h"

namespace qvlink::sim {
namespace {

using test::SimulatedBus;

constexpr SimMillis kTenMinutes = 600'000;

TEST(SimulatedScenarios, EveryGapCountsAsOneMissAndNothingElse) {
    SimConfig config;
    config.loss = 0.3;
    SimulatedBus bus(config);
    bus.runUntil(kTenMinutes);
    for (std::size_t i = 0; i < bus.simulation.deviceCount(); ++i) {
        const SimDevice& device = bus.simulation.device(i);
        const TDevice seen = bus.registered(i);
        EXPECT_EQ(seen.total, device.stats.sent) << device.label();
        if (device.info->sequenced) {
            EXPECT_GT(device.stats.gaps, 10U) << device.label();
            EXPECT_GE(device.stats.skipped, device.stats.gaps);
        }
        EXPECT_EQ(seen.missed, device.stats.gaps) << device.label();
        EXPECT_EQ(seen.restarts, 0) << device.label();
    }
}

TEST(SimulatedScenarios, EveryRestartIsCountedEvenUnderLoss) {
    SimConfig config;
    config.restartEverySeconds = 15;
    config.loss = 0.1;
    SimulatedBus bus(config);
    bus.runUntil(kTenMinutes);
    for (std::size_t i = 0; i < bus.simulation.deviceCount(); ++i) {
        const SimDevice& device = bus.simulation.device(i);
        const TDevice seen = bus.registered(i);
        if (device.info->sequenced) {
            EXPECT_GE(device.stats.restarts, 38U) << device.label();
        }
        EXPECT_EQ(seen.restarts, device.stats.restarts) << device.label();
        EXPECT_EQ(seen.missed, device.stats.gaps) << device.label();
    }
}

TEST(SimulatedScenarios, RestartWaitsUntilAMonitorCanTellItFromAWrap) {
    SequenceCounter counter;
    DeviceStats stats;
    Random random(1);
    std::vector<std::uint8_t> numbers;
    for (int i = 0; i < 255; ++i) {
        counter.take(0.0, random, stats);  // 0 .. 254
    }
    counter.requestRestart(false);
    for (int i = 0; i < 4; ++i) {
        numbers.push_back(counter.take(0.0, random, stats));
    }
    // After 254 a 0 would read as a gap, after 255 as the wrap, after 0 as a repeat.
    EXPECT_EQ(numbers, (std::vector<std::uint8_t>{255, 0, 1, 0}));
    EXPECT_EQ(stats.restarts, 1U);
}

TEST(SimulatedScenarios, SilentDeviceGreysOutThenComesBack) {
    SimConfig config;
    config.silence = true;
    config.silenceForSeconds = 75;
    config.silenceEverySeconds = 150;
    SimulatedBus bus(config);
    bus.runUntil(100'000);

    // The first silence takes device 0 from 15 s to 90 s.
    const auto from = [&](std::size_t device, SimMillis begin, SimMillis end) {
        return std::count_if(bus.sent.begin(), bus.sent.end(), [&](const auto& sent) {
            return sent.device == device && sent.at >= begin && sent.at < end;
        });
    };
    EXPECT_GT(from(0, 0, 15'000), 0);
    EXPECT_EQ(from(0, 15'000, 90'000), 0);
    EXPECT_GT(from(0, 90'000, 100'000), 0);
    EXPECT_GT(from(1, 15'000, 90'000), 0);
    EXPECT_GE(bus.maxAge[0], 60U);  // the monitor greys the row out
    EXPECT_LT(bus.registered(0).timeout, 10U);
    EXPECT_LT(bus.maxAge[1], 60U);
}

TEST(SimulatedScenarios, FirmwareUpdateQuietsTheDeviceThenRestartsIt) {
    SimConfig config;
    config.reprogQuietSeconds = 5;
    SimulatedBus bus(config);
    bus.runUntil(30'000);
    bus.simulation.startReprogramming(1, 30'000);
    bus.runUntil(40'000);

    const auto quietEnds = std::find_if(bus.sent.begin(), bus.sent.end(), [](const auto& sent) {
        return sent.device == 1 && sent.at > 30'000;
    });
    ASSERT_NE(quietEnds, bus.sent.end());
    EXPECT_EQ(quietEnds->at, 35'000);
    EXPECT_EQ(quietEnds->bytes[kOffsetSequence], 0);
    EXPECT_EQ(bus.registered(1).restarts, 1);
    for (std::size_t i = 0; i < bus.simulation.deviceCount(); ++i) {
        EXPECT_EQ(bus.registered(i).restarts, i == 1 ? 1 : 0) << i;
    }
}

TEST(SimulatedBus, OneCycleFillsBothTablesFromTheOwningDevices) {
    SimConfig config;
    config.deviceCount = 9;
    SimulatedBus bus(config);
    bus.runUntil(static_cast<SimMillis>(config.cycleSeconds * 1000));
    for (int point = 1; point <= kPointCount; ++point) {
        TTs ts;
        TTi ti;
        ASSERT_TRUE(bus.tables.getTs(point, ts)) << point;
        ASSERT_TRUE(bus.tables.getTi(point, ti)) << point;
        for (std::size_t i = 0; i < bus.simulation.deviceCount(); ++i) {
            const SimDevice& device = bus.simulation.device(i);
            const bool owns = device.info->sequenced && point >= device.tsRange.first &&
                              point <= device.tsRange.last();
            if (owns) {
                EXPECT_EQ(ts.macAddr, device.macText) << point;
                EXPECT_EQ(ti.macAddr, device.macText) << point;
            }
        }
    }
}

std::vector<std::vector<std::uint8_t>> traffic(std::uint64_t seed) {
    SimConfig config;
    config.seed = seed;
    config.loss = 0.05;
    config.malformed = true;
    SimulatedBus bus(config);
    bus.runUntil(60'000);
    std::vector<std::vector<std::uint8_t>> bytes;
    for (auto& sent : bus.sent) {
        bytes.push_back(std::move(sent.bytes));
    }
    return bytes;
}

TEST(SimulatedBus, SameSeedRepeatsTheTrafficExactly) {
    EXPECT_EQ(traffic(5), traffic(5));
    EXPECT_NE(traffic(5), traffic(6));
}

TEST(SimulatedBus, LoadModeSendsOnlyWhatIsAskedWithRollingSequence) {
    SimConfig config;
    config.rate = 100'000;
    config.types = {16, 8};
    config.deviceCount = 2;
    SimulatedBus bus(config);
    bus.runUntil(20'000);
    EXPECT_TRUE(bus.sent.empty());

    std::vector<std::vector<std::uint8_t>> load;
    const auto keep = [&](std::size_t, std::span<const std::uint8_t> bytes) {
        load.emplace_back(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(bus.simulation.emitLoad(0, 300, keep), 300);
    EXPECT_EQ(bus.simulation.emitLoad(1, 10, keep), 10);
    ASSERT_EQ(load.size(), 310U);
    for (std::size_t i = 0; i < 300; ++i) {
        EXPECT_EQ(load[i][kOffsetSequence], i % 256);
        EXPECT_EQ(classifyDatagram(load[i].data(), load[i].size()), DatagramVerdict::Accepted);
    }
    EXPECT_EQ(load[300][kOffsetClassOnlyClass], kClassOnlyTs);
    EXPECT_EQ(load[301][kOffsetClassOnlyClass], kClassOnlyTi);

    bus.simulation.startReprogramming(0, 20'000);
    EXPECT_EQ(bus.simulation.emitLoad(0, 10, keep), 0);  // quiet while updating firmware
}

TEST(SimulatedBus, LoadModeRoundsMixCyclicListsTimeTaggedSporadicItemsAndMessages) {
    SimConfig config;
    config.rate = 100'000;
    config.deviceCount = 29;
    SimulatedBus bus(config);
    std::map<std::pair<int, int>, int> kinds;  // (class, subtype) of sequenced datagrams
    int taggedItems = 0;
    int classOnlyTimeSettings = 0;
    const auto count = [&](std::size_t, std::span<const std::uint8_t> bytes) {
        TPacket packet;
        ASSERT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
        if (!packet.sequenced) {
            classOnlyTimeSettings += packet.msgClass == kClassOnlyTimeSetting ? 1 : 0;
            return;
        }
        ++kinds[{packet.msgClass, packet.subtype}];
        if (packet.subtype == kSubtypeSporadic) {
            int pos = 0;
            do {
                TTs ts;
                TTi ti;
                pos = packet.msgClass == kClassTs ? parseTsItem(packet.payload, pos, ts)
                                                  : parseTiItem(packet.payload, pos, ti);
                taggedItems += (packet.msgClass == kClassTs ? ts.timeTag : ti.timeTag).month != 0;
            } while (pos != 0);
        }
    };
    for (int round = 0; round < 8; ++round) {
        for (std::size_t device = 0; device < bus.simulation.deviceCount(); ++device) {
            EXPECT_EQ(bus.simulation.emitLoad(device, 5, count), 5);
        }
    }
    const auto seen = [&kinds](int msgClass, int subtype) { return kinds[{msgClass, subtype}]; };
    // Each sequenced device owns 20 points: one TS and one TI chunk a round.
    EXPECT_EQ(seen(kClassTs, kSubtypeCyclic), seen(kClassTs, kSubtypeSporadic));
    EXPECT_EQ(seen(kClassTi, kSubtypeCyclic), seen(kClassTi, kSubtypeSporadic));
    EXPECT_GT(seen(kClassTs, kSubtypeCyclic), 50);
    EXPECT_GE(taggedItems, seen(kClassTs, kSubtypeSporadic) + seen(kClassTi, kSubtypeSporadic));
    EXPECT_GT(seen(kClassTime, 0), 0);
    EXPECT_GT(seen(kClassText, 0), 0);
    EXPECT_GT(classOnlyTimeSettings, 0);
}

TEST(SimulatedBus, DevicesAreFoundByTheirWholeMacInAnyLetterCase) {
    SimConfig config;
    SimulatedBus bus(config);
    EXPECT_EQ(bus.simulation.indexOfMac("FA:CE:10:5A:00:0B"), 10);
    EXPECT_EQ(bus.simulation.indexOfMac("fa:ce:10:5a:00:0b"), 10);
    EXPECT_EQ(bus.simulation.indexOfMac("FA:CE:10:5A:00:0C"), -1);  // number 12 is type 17
    EXPECT_EQ(bus.simulation.indexOfMac("FA:CE:10:5A:00:0"), -1);
}

}  // namespace
}  // namespace qvlink::sim
