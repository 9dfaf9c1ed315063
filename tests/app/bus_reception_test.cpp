#include "app/bus_reception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <vector>

#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::classOnlyDatagram;
using test::sequencedDatagram;

LocalDateTime fixedTime() {
    return {2026, 12, 9, 12, 0, 1, 250};
}

class BusReceptionTest : public ::testing::Test {
protected:
    BusReceptionTest()
        : registry(fixedTime),
          tables(fixedTime),
          statistics(registry),
          reception(registry, tables, statistics, [this] { return nowMs; }) {
        reception.setTraceHook([this](const std::string& ip, const TPacket& packet) {
            tracedMacs.push_back(packet.macAddr);
            // The trace sees the registry already updated and the items not yet stored.
            devicesAtTrace = registry.deviceCount();
            TTs ts;
            tsStoredAtTrace = tables.getTs(5, ts);
            tracedIps.push_back(ip);
        });
    }

    DatagramVerdict receive(const std::vector<std::uint8_t>& bytes, const char* ip = "10.0.0.5") {
        return reception.receive(bytes.data(), bytes.size(), ip);
    }

    DeviceRegistry registry;
    TeleparamTables tables;
    BusStatistics statistics;
    std::int64_t nowMs = 0;
    BusReception reception;
    std::vector<std::string> tracedMacs;
    std::vector<std::string> tracedIps;
    int devicesAtTrace = -1;
    bool tsStoredAtTrace = true;
};

TEST_F(BusReceptionTest, DroppedDatagramsLeaveNoTraceAnywhere) {
    // A report padded with zeros to one byte over the limit.
    std::vector<std::uint8_t> tooLong(kMaxDatagramSize + 1, 0);
    const std::vector<std::uint8_t> report =
        sequencedDatagram(1, 0x112233, 0, kClassTs, 2, {5, 0, 1});
    std::copy(report.begin(), report.end(), tooLong.begin());
    std::vector<std::uint8_t> badMagic = sequencedDatagram(1, 0x112233, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;
    std::vector<std::uint8_t> swappedMagic = badMagic;
    swappedMagic[0] = 0xCE;
    swappedMagic[1] = 0xFA;
    const std::vector<std::uint8_t> tooShort{0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3};
    const std::vector<std::uint8_t> unknownType =
        sequencedDatagram(2, 1, 0, kClassTs, 2, {5, 0, 1});
    const std::vector<std::uint8_t> ownCommand = sequencedDatagram(0, 0, 0, kClassText, 10, {0});
    const std::vector<std::uint8_t> single{0xFA};

    const struct {
        const char* name;
        const std::vector<std::uint8_t>& bytes;
        DatagramVerdict verdict;
    } cases[] = {
        {"241 bytes", tooLong, DatagramVerdict::TooLong},
        {"FA CF", badMagic, DatagramVerdict::NoMagic},
        {"CE FA", swappedMagic, DatagramVerdict::NoMagic},
        {"one byte", single, DatagramVerdict::NoMagic},
        {"9 bytes", tooShort, DatagramVerdict::TooShort},
        {"type 2", unknownType, DatagramVerdict::UnknownType},
        {"own change-IP command", ownCommand, DatagramVerdict::UnknownType},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(receive(c.bytes), c.verdict);
    }
    EXPECT_EQ(registry.deviceCount(), 0);
    EXPECT_TRUE(tracedMacs.empty());
    TTs ts;
    EXPECT_FALSE(tables.getTs(5, ts));

    // Each is counted under its reason; the own command is a type the bus does not know.
    const std::pair<DropReason, std::uint64_t> counted[] = {{DropReason::TooLong, 1},
                                                            {DropReason::NoMagic, 3},
                                                            {DropReason::TooShort, 1},
                                                            {DropReason::UnknownType, 2},
                                                            {DropReason::Empty, 0}};
    for (const auto& [reason, count] : counted) {
        EXPECT_EQ(statistics.dropped(reason), (DropTally{count, count ? "10.0.0.5" : ""}))
            << dropReasonName(reason);
    }
    EXPECT_EQ(statistics.acceptedCount(), 0u);
}

TEST_F(BusReceptionTest, CapturedDatagramsAreCountedAsTheEndpointCountsThemOnTheBus) {
    const std::vector<std::uint8_t> report =
        sequencedDatagram(1, 0x112233, 0, kClassTs, 2, {5, 0, 1});
    std::vector<std::uint8_t> headOfTooLong(kMaxDatagramSize, 0);
    std::copy(report.begin(), report.end(), headOfTooLong.begin());

    const struct {
        const char* name;
        std::span<const std::uint8_t> kept;
        std::size_t length;
        DropReason reason;
    } cases[] = {
        {"empty", {}, 0, DropReason::Empty},
        {"a valid head cut from 300 bytes", headOfTooLong, 300, DropReason::TooLong},
        {"whole, one byte over the limit", report, kMaxDatagramSize + 1, DropReason::TooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t before = statistics.dropped(c.reason).count;
        reception.receiveCaptured(c.kept, c.length, "10.0.0.7");
        EXPECT_EQ(statistics.dropped(c.reason), (DropTally{before + 1, "10.0.0.7"}));
    }
    EXPECT_EQ(statistics.dropped(DropReason::NoMagic).count, 0u) << "an empty one has no magic";
    EXPECT_EQ(registry.deviceCount(), 0);

    reception.receiveCaptured(report, report.size(), "10.0.0.7");
    EXPECT_EQ(statistics.acceptedCount(), 1u);
    EXPECT_EQ(tracedIps, std::vector<std::string>{"10.0.0.7"});
}

TEST_F(BusReceptionTest, AcceptedTsDatagramIsCountedTracedThenStored) {
    EXPECT_EQ(receive(sequencedDatagram(16, 0x0A003C, 7, kClassTs, 2, {5, 0, 1})),
              DatagramVerdict::Accepted);

    ASSERT_EQ(tracedMacs.size(), 1U);
    EXPECT_EQ(tracedMacs[0], "FA:CE:10:0A:00:3C");
    EXPECT_EQ(tracedIps[0], "10.0.0.5");
    EXPECT_EQ(devicesAtTrace, 1);
    EXPECT_FALSE(tsStoredAtTrace);
    TTs ts;
    ASSERT_TRUE(tables.getTs(5, ts));
    EXPECT_EQ(ts.flags, 0x01);
    EXPECT_EQ(ts.macAddr, "FA:CE:10:0A:00:3C");
}

TEST_F(BusReceptionTest, ClassOnlyDevicesNeverReachTheTables) {
    // Class 68 names TS and class 1 (time setting) shares the TI class number.
    for (std::uint8_t msgClass : {kClassOnlyTs, kClassOnlyTi, kClassOnlyTimeSetting, kClassTs}) {
        std::vector<std::uint8_t> bytes = classOnlyDatagram(8, 0x000001, msgClass);
        bytes.insert(bytes.end(), {5, 0, 1, 0, 0});
        EXPECT_EQ(receive(bytes), DatagramVerdict::Accepted);
    }
    EXPECT_EQ(registry.deviceCount(), 1);
    EXPECT_EQ(tracedMacs.size(), 4U);
    for (int n = 1; n <= kPointCount; ++n) {
        TTs ts;
        TTi ti;
        ASSERT_FALSE(tables.getTs(n, ts));
        ASSERT_FALSE(tables.getTi(n, ti));
    }
}

TEST_F(BusReceptionTest, ItemsAreStoredWhateverTheSubtype) {
    const float value = 1.5F;
    EXPECT_EQ(receive(sequencedDatagram(1, 1, 0, kClassTi, 9, {7, 0, 0, 0, 0, 0xC0, 0x3F})),
              DatagramVerdict::Accepted);
    TTi ti;
    ASSERT_TRUE(tables.getTi(7, ti));
    EXPECT_EQ(ti.value, value);
}

}  // namespace
}  // namespace qvlink
