#include "protocol/items.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "datagrams.h"
#include "state/rendering.h"

namespace qvlink {
namespace {

using test::Bytes;

TPacket packetWithPayload(std::uint8_t msgClass, const Bytes& payload) {
    TPacket packet;
    packet.deviceType = 1;
    packet.sequenced = true;
    packet.msgClass = msgClass;
    packet.subtype = 3;
    packet.macAddr = "FA:CE:01:00:11:22";
    std::copy(payload.begin(), payload.end(), packet.payload.begin());
    return packet;
}

class ItemWalkTest : public ::testing::Test {
protected:
    /// Numbers of the valid entries of one table, in ascending order.
    template <typename Entry>
    std::vector<int> valid(bool (TeleparamTables::*get)(int, Entry&) const) const {
        std::vector<int> numbers;
        Entry entry;
        for (int n = 1; n <= kPointCount; ++n) {
            if ((m_tables.*get)(n, entry)) {
                numbers.push_back(n);
            }
        }
        return numbers;
    }
    std::vector<int> validTs() const { return valid(&TeleparamTables::getTs); }
    std::vector<int> validTi() const { return valid(&TeleparamTables::getTi); }
    TTs ts(int number) const {
        TTs entry;
        EXPECT_TRUE(m_tables.getTs(number, entry)) << number;
        return entry;
    }

    TeleparamTables m_tables{[] { return LocalDateTime{}; }};
};

TEST_F(ItemWalkTest, StoresTsItemsInListOrder) {
    const struct {
        const char* name;
        Bytes payload;
        std::vector<int> stored;
    } rows[] = {
        {"one item then end", {0x05, 0x00, 0x01, 0x00, 0x00}, {5}},
        {"three items", {0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x03, 0x00, 0x01}, {1, 2, 3}},
        {"empty payload", {}, {}},
        {"first number 0 is skipped", {0x00, 0x00, 0x01, 0x05, 0x00, 0x01}, {5}},
        {"501 and 65535 skipped",
         {0x01, 0x00, 0x01, 0xF5, 0x01, 0x01, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0x01},
         {1, 2}},
        {"list ends at two zero bytes",
         {0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01},
         {1}},
    };
    for (const auto& row : rows) {
        m_tables = TeleparamTables([] { return LocalDateTime{}; });
        processTsPacket(packetWithPayload(kClassTs, row.payload), m_tables);
        EXPECT_EQ(validTs(), row.stored) << row.name;
        EXPECT_TRUE(validTi().empty()) << row.name;
    }
    // A point reported twice in one datagram keeps the later item.
    processTsPacket(packetWithPayload(kClassTs, {0x07, 0x00, 0x01, 0x07, 0x00, 0x06}), m_tables);
    EXPECT_EQ(ts(7).flags, 0x06);
    EXPECT_EQ(ts(7).macAddr, "FA:CE:01:00:11:22");
}

TEST_F(ItemWalkTest, TsTimeTagIsReadInWireOrder) {
    processTsPacket(
        packetWithPayload(kClassTs, {0x05, 0x00, 0x09, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18}),
        m_tables);
    const TTs entry = ts(5);
    EXPECT_EQ(entry.flags, 0x09);
    EXPECT_EQ(entry.timeTag, (TTimeTag{24, 6, 15, 12, 30, 0, 10000}));
    EXPECT_EQ(timestampText(entry.timeTag), "12:30:10.000");
    EXPECT_EQ(validTs(), std::vector<int>{5});
}

TEST_F(ItemWalkTest, TiItemsCarryValueAndOptionalTimeTag) {
    const Bytes payload = {0x07, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F,   // 7 = 1.5
                           0x08, 0x00, 0x08, 0x00, 0x00, 0x20, 0xC0,   // 8 = -2.5
                           0x58, 0x1B, 0x05, 0x09, 0x01, 0x02, 0x19,   // its tag
                           0x09, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F};  // 9 = 1.0
    TTi item;
    const PayloadArea area = packetWithPayload(kClassTi, payload).payload;
    EXPECT_EQ(parseTiItem(area, 0, item), 7);
    EXPECT_EQ(item.value, 1.5F);
    EXPECT_EQ(item.timeTag, TTimeTag{});
    EXPECT_EQ(parseTiItem(area, 7, item), 21);  // 14 bytes with the time tag
    EXPECT_EQ(item.number, 8);
    EXPECT_EQ(item.value, -2.5F);
    EXPECT_EQ(item.timeTag, (TTimeTag{25, 2, 1, 9, 5, 0, 7000}));
    EXPECT_EQ(parseTiItem(area, 21, item), 0);

    processTiPacket(packetWithPayload(kClassTi, payload), m_tables);
    EXPECT_EQ(validTi(), (std::vector<int>{7, 8, 9}));
    EXPECT_TRUE(validTs().empty());
}

TEST_F(ItemWalkTest, OnlyClassOneAndTwoStoreItems) {
    const Bytes items = {0x05, 0x00, 0x01, 0x00, 0x00, 0x80, 0x3F};
    for (const std::uint8_t msgClass : {0, 3, 4, 5, 6, 68, 72}) {
        const TPacket packet = packetWithPayload(msgClass, items);
        processTsPacket(packet, m_tables);
        processTiPacket(packet, m_tables);
    }
    EXPECT_TRUE(validTs().empty());
    EXPECT_TRUE(validTi().empty());

    processTsPacket(packetWithPayload(kClassTi, items), m_tables);
    processTiPacket(packetWithPayload(kClassTs, items), m_tables);
    EXPECT_TRUE(validTs().empty());
    EXPECT_TRUE(validTi().empty());
}

TEST_F(ItemWalkTest, UnterminatedListIsCutAtTheEndOfTheArea) {
    TPacket packet = packetWithPayload(kClassTs, {});
    for (int i = 0; i < 78; ++i) {  // 78 three-byte items fill all 234 bytes
        packet.payload[static_cast<std::size_t>(3 * i)] = static_cast<std::uint8_t>(i + 1);
        packet.payload[static_cast<std::size_t>(3 * i + 2)] = kFlagState;
    }
    processTsPacket(packet, m_tables);
    const std::vector<int> stored = validTs();
    ASSERT_EQ(stored.size(), 78U);
    EXPECT_EQ(stored.back(), 78);
}

TEST(ItemParsers, ReadsPastTheAreaYieldZero) {
    PayloadArea area;
    area.fill(0x09);  // flags 0x09: state on, time tag follows

    TTi ti;
    EXPECT_EQ(parseTiItem(area, 222, ti), 0);  // tag bytes 229..233, month and year past the end
    EXPECT_EQ(ti.number, 0x0909);
    EXPECT_EQ(ti.timeTag, (TTimeTag{0, 0, 9, 9, 9, 0, 0x0909}));

    TTs ts;
    EXPECT_EQ(parseTsItem(area, 233, ts), 0);  // number's high byte past the end
    EXPECT_EQ(ts.number, 9);
    EXPECT_EQ(ts.flags, 0);
    for (const int outside : {234, 100000, -5}) {
        EXPECT_EQ(parseTsItem(area, outside, ts), 0);
        EXPECT_EQ(ts.number, 0);
        EXPECT_EQ(ts.timeTag, TTimeTag{});
    }
}

}  // namespace
}  // namespace qvlink
