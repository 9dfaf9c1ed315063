// Every datagram the simulator can send, read back by the monitor's own parser.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/cp1251.h"
#include "datagram_writer.h"
#include "malformed.h"
#include "sim_test_support.h"

namespace qvlink::sim {
namespace {

using test::kFixedNow;

const DeviceIdentity kDevice = makeIdentity(16, 3);
const TTimeTag kTag = timeTagOf(kFixedNow);

TPacket parseAccepted(std::span<const std::uint8_t> bytes) {
    TPacket packet;
    EXPECT_EQ(classifyDatagram(bytes.data(), bytes.size()), DatagramVerdict::Accepted);
    EXPECT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    return packet;
}

TEST(DatagramWriter, HeadersParseBackForBothLayouts) {
    DatagramWriter writer;
    writer.beginSequenced(kDevice, kClassTs, kSubtypeSporadic);
    writer.appendTs(7, kFlagState, {});
    writer.stampSequence(200);
    TPacket packet = parseAccepted(writer.bytes());
    EXPECT_TRUE(packet.sequenced);
    EXPECT_EQ(packet.deviceType, 16);
    EXPECT_EQ(packet.macAddr, "FA:CE:10:5A:00:03");
    EXPECT_EQ(packet.macAddr, kDevice.macText());
    EXPECT_EQ(packet.seq, 200);
    EXPECT_EQ(packet.msgClass, kClassTs);
    EXPECT_EQ(packet.subtype, kSubtypeSporadic);

    const DeviceIdentity classOnly = makeIdentity(204, 300);
    writer.beginClassOnly(classOnly, kClassOnlyTs);
    writer.appendBytes(std::array<std::uint8_t, 3>{16, 0x55, 0xAA});
    packet = parseAccepted(writer.bytes());
    EXPECT_FALSE(packet.sequenced);
    EXPECT_EQ(packet.macAddr, "FA:CE:CC:5A:01:2C");
    EXPECT_EQ(packet.msgClass, kClassOnlyTs);
    EXPECT_EQ(packet.seq, 0);
}

struct ItemCase {
    const char* name;
    bool ti;
    std::uint16_t number;
    std::uint8_t flags;
    float value;
    bool tagged;
};

class ItemRoundTrip : public testing::TestWithParam<ItemCase> {};

TEST_P(ItemRoundTrip, SurvivesTheParserBetweenNeighbours) {
    const ItemCase& c = GetParam();
    const std::optional<TTimeTag> tag = c.tagged ? std::optional(kTag) : std::nullopt;
    DatagramWriter writer;
    writer.beginSequenced(kDevice, c.ti ? kClassTi : kClassTs, kSubtypeCyclic);
    for (std::uint16_t number : {std::uint16_t{1}, c.number, std::uint16_t{499}}) {
        ASSERT_TRUE(c.ti ? writer.appendTi(number, c.flags, c.value, tag)
                         : writer.appendTs(number, c.flags, tag));
    }
    const TPacket packet = parseAccepted(writer.bytes());
    const std::uint8_t expectedFlags = c.tagged ? (c.flags | kTimeTagFollows) : c.flags;
    const TTimeTag expectedTag = c.tagged ? kTag : TTimeTag{};

    int pos = 0;
    std::vector<std::uint16_t> numbers;
    do {
        TTs ts;
        TTi ti;
        pos = c.ti ? parseTiItem(packet.payload, pos, ti) : parseTsItem(packet.payload, pos, ts);
        numbers.push_back(c.ti ? ti.number : ts.number);
        EXPECT_EQ(c.ti ? ti.flags : ts.flags, expectedFlags);
        EXPECT_EQ(c.ti ? ti.timeTag : ts.timeTag, expectedTag);
        if (c.ti) {
            EXPECT_EQ(ti.value, c.value);
        }
    } while (pos != 0);
    EXPECT_EQ(numbers, (std::vector<std::uint16_t>{1, c.number, 499}));
}

INSTANTIATE_TEST_SUITE_P(
    Items, ItemRoundTrip,
    testing::Values(ItemCase{"TsSingleOn", false, 5, kFlagState, 0, false},
                    ItemCase{"TsDoubleFaultTagged", false, 256, 0x07, 0, true},
                    ItemCase{"TsLineBreakTagged", false, 500, kFlagDoublePoint, 0, true},
                    ItemCase{"TiUntagged", true, 7, 0, 1.5F, false},
                    ItemCase{"TiNegativeTagged", true, 300, 0, -10.125F, true},
                    ItemCase{"TiNumberWithZeroLowByte", true, 256, 0, 50.0F, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DatagramWriter, FullDatagramIsCutAtTheLimitAndParsesWhole) {
    struct Fill {
        bool ti;
        bool tagged;
        std::size_t items;
    };
    for (const Fill fill : {Fill{false, false, 77}, Fill{false, true, 23}, Fill{true, false, 33},
                            Fill{true, true, 16}}) {
        const std::optional<TTimeTag> tag = fill.tagged ? std::optional(kTag) : std::nullopt;
        DatagramWriter writer;
        writer.beginSequenced(kDevice, fill.ti ? kClassTi : kClassTs, kSubtypeCyclic);
        std::uint16_t number = 1;
        while (fill.ti ? writer.appendTi(number, 0, 1.0F, tag) : writer.appendTs(number, 0, tag)) {
            ++number;
        }
        ASSERT_LE(writer.bytes().size(), kMaxDatagramSize);
        EXPECT_EQ(number - 1U, fill.items);

        TeleparamTables tables(test::fixedClock());
        const TPacket packet = parseAccepted(writer.bytes());
        fill.ti ? processTiPacket(packet, tables) : processTsPacket(packet, tables);
        TTs ts;
        TTi ti;
        const auto stored = [&](int n) {
            return fill.ti ? tables.getTi(n, ti) : tables.getTs(n, ts);
        };
        EXPECT_TRUE(stored(static_cast<int>(fill.items)));
        EXPECT_FALSE(stored(static_cast<int>(fill.items) + 1));
    }
}

TEST(MalformedDatagrams, EveryKindIsRefusedByTheReceptionChecks) {
    const std::map<MalformedKind, DatagramVerdict> expected{
        {MalformedKind::BadMagic, DatagramVerdict::NoMagic},
        {MalformedKind::UnknownType, DatagramVerdict::UnknownType},
        {MalformedKind::TooShort, DatagramVerdict::TooShort},
        {MalformedKind::TooLong, DatagramVerdict::TooLong},
    };
    Random random(7);
    for (const MalformedKind kind : kMalformedKinds) {
        for (int draw = 0; draw < 50; ++draw) {
            const std::vector<std::uint8_t> bytes = buildMalformed(kind, kDevice, random);
            EXPECT_EQ(classifyDatagram(bytes.data(), bytes.size()), expected.at(kind))
                << malformedKindText(kind);
            TPacket packet;
            if (kind == MalformedKind::TooShort || kind == MalformedKind::UnknownType) {
                EXPECT_FALSE(parsePacket(bytes.data(), bytes.size(), packet));
            }
        }
    }
}

/// Checks one accepted datagram of a simulated device against what that device meant and
/// returns a name for its kind ("TS cyclic", "text", ...).
std::string checkAccepted(const SimDevice& device, const TPacket& packet) {
    EXPECT_EQ(packet.macAddr, device.macText);
    EXPECT_EQ(packet.deviceType, device.info->code);
    if (!device.info->sequenced) {
        EXPECT_TRUE(packet.msgClass == kClassOnlyTimeSetting || packet.msgClass == kClassOnlyTs ||
                    packet.msgClass == kClassOnlyTi);
        return "class " + std::to_string(packet.msgClass);
    }
    const bool sporadic = packet.subtype == kSubtypeSporadic;
    if (packet.msgClass == kClassTs || packet.msgClass == kClassTi) {
        const bool ti = packet.msgClass == kClassTi;
        const PointRange range = ti ? device.tiRange : device.tsRange;
        const std::size_t itemSize =
            (ti ? kTiItemSize : kTsItemSize) + (sporadic ? kTimeTagSize : 0);
        std::size_t items = 0;
        int pos = 0;
        do {
            TTs ts;
            TTi tiItem;
            pos = ti ? parseTiItem(packet.payload, pos, tiItem)
                     : parseTsItem(packet.payload, pos, ts);
            const std::uint16_t number = ti ? tiItem.number : ts.number;
            EXPECT_GE(number, range.first);
            EXPECT_LE(number, range.last());
            EXPECT_EQ(ti ? tiItem.timeTag : ts.timeTag, sporadic ? kTag : TTimeTag{});
            ++items;
        } while (pos != 0);
        // The walk ends exactly where the datagram does.
        EXPECT_EQ(kPayloadOffset + items * itemSize, packet.hexDump.size() / 3);
        return std::string(ti ? "TI " : "TS ") + (sporadic ? "sporadic" : "cyclic");
    }
    const std::size_t payloadSize = packet.hexDump.size() / 3 - kPayloadOffset;
    if (packet.msgClass == kClassTime) {
        EXPECT_EQ(payloadSize, kTimeTagSize);
        // CP56Time2a: milliseconds within the minute (little-endian), minute, hour, day,
        // month, year of the fixed clock 2024-06-15 12:30:10.250.
        const std::array<std::uint8_t, kTimeTagSize> expected{0x0A, 0x28, 30, 12, 15, 6, 24};
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), packet.payload.begin()));
        return "time";
    }
    if (packet.msgClass == kClassText) {
        const auto* body = reinterpret_cast<const char*>(packet.payload.data());
        const std::string text(body);
        EXPECT_EQ(text.size() + 1, payloadSize);  // one terminating zero
        EXPECT_EQ(encodeCp1251(decodeCp1251(text)), text);
        EXPECT_GE(static_cast<unsigned char>(text[0]), 0xC0);  // Cyrillic capital letter
        return "text";
    }
    EXPECT_EQ(packet.msgClass, kClassSilence);
    return "silence request";
}

TEST(SimulatedTraffic, EveryDatagramParsesBackToWhatTheDeviceMeant) {
    SimConfig config;
    config.malformed = true;
    config.malformedEverySeconds = 2;
    config.loss = 0.1;
    config.restartEverySeconds = 40;
    config.silence = true;
    test::SimulatedBus bus(config);
    bus.runUntil(600'000);

    std::set<std::string> kinds;
    std::uint64_t refused = 0;
    for (const test::SentDatagram& sent : bus.sent) {
        if (classifyDatagram(sent.bytes.data(), sent.bytes.size()) != DatagramVerdict::Accepted) {
            ++refused;
            continue;
        }
        TPacket packet;
        ASSERT_TRUE(parsePacket(sent.bytes.data(), sent.bytes.size(), packet));
        kinds.insert(checkAccepted(bus.simulation.device(sent.device), packet));
    }
    std::uint64_t malformed = 0;
    for (std::size_t i = 0; i < bus.simulation.deviceCount(); ++i) {
        malformed += bus.simulation.device(i).stats.malformed;
    }
    EXPECT_EQ(refused, malformed);
    EXPECT_EQ(malformed, 300U);
    EXPECT_EQ(kinds, (std::set<std::string>{"TS cyclic", "TS sporadic", "TI cyclic", "TI sporadic",
                                            "time", "text", "silence request", "class 1",
                                            "class 68", "class 72"}));
}

}  // namespace
}  // namespace qvlink::sim
