#include "protocol/items.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/rendering.h"
#include "datagrams.h"

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

/// The items one walk hands over, in order.
std::vector<TTs> tsItems(const TPacket& packet) {
    std::vector<TTs> items;
    forEachTsItem(packet, [&items](const TTs& item) { items.push_back(item); });
    return items;
}

std::vector<TTi> tiItems(const TPacket& packet) {
    std::vector<TTi> items;
    forEachTiItem(packet, [&items](const TTi& item) { items.push_back(item); });
    return items;
}

template <typename Item>
std::vector<int> numbersOf(const std::vector<Item>& items) {
    std::vector<int> numbers;
    for (const Item& item : items) {
        numbers.push_back(item.number);
    }
    return numbers;
}

TEST(ItemWalk, HandsOverTsItemsInListOrder) {
    const struct {
        const char* name;
        Bytes payload;
        std::vector<int> handed;
    } rows[] = {
        {"one item then end", {0x05, 0x00, 0x01, 0x00, 0x00}, {5}},
        {"three items", {0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x03, 0x00, 0x01}, {1, 2, 3}},
        {"empty payload hands over one item 0", {}, {0}},
        {"first number 0 does not end the list", {0x00, 0x00, 0x01, 0x05, 0x00, 0x01}, {0, 5}},
        {"501 and 65535 are handed over too",
         {0x01, 0x00, 0x01, 0xF5, 0x01, 0x01, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0x01},
         {1, 501, 65535, 2}},
        {"list ends at two zero bytes",
         {0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01},
         {1}},
    };
    for (const auto& row : rows) {
        const std::vector<TTs> items = tsItems(packetWithPayload(kClassTs, row.payload));
        EXPECT_EQ(numbersOf(items), row.handed) << row.name;
        for (const TTs& item : items) {
            EXPECT_EQ(item.macAddr, "FA:CE:01:00:11:22") << row.name;
        }
    }
}

TEST(ItemWalk, TsTimeTagIsReadInWireOrder) {
    const std::vector<TTs> items = tsItems(
        packetWithPayload(kClassTs, {0x05, 0x00, 0x09, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18}));
    ASSERT_EQ(numbersOf(items), std::vector<int>{5});
    EXPECT_EQ(items[0].flags, 0x09);
    EXPECT_EQ(items[0].timeTag, (TTimeTag{24, 6, 15, 12, 30, 0, 10000}));
    EXPECT_EQ(timestampText(items[0].timeTag), "12:30:10.000");
}

TEST(ItemWalk, TiItemsCarryValueAndOptionalTimeTag) {
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

    const std::vector<TTi> items = tiItems(packetWithPayload(kClassTi, payload));
    EXPECT_EQ(numbersOf(items), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(items[2].timeTag, TTimeTag{});  // a tag is not carried over to the next item
}

TEST(ItemWalk, OnlyClassOneAndTwoCarryItems) {
    const Bytes items = {0x05, 0x00, 0x01, 0x00, 0x00, 0x80, 0x3F};
    for (const std::uint8_t msgClass : {0, 3, 4, 5, 6, 68, 72}) {
        const TPacket packet = packetWithPayload(msgClass, items);
        EXPECT_TRUE(tsItems(packet).empty()) << int{msgClass};
        EXPECT_TRUE(tiItems(packet).empty()) << int{msgClass};
    }
    EXPECT_TRUE(tsItems(packetWithPayload(kClassTi, items)).empty());
    EXPECT_TRUE(tiItems(packetWithPayload(kClassTs, items)).empty());
}

TEST(ItemWalk, UnterminatedListIsCutAtTheEndOfTheArea) {
    TPacket packet = packetWithPayload(kClassTs, {});
    for (int i = 0; i < 78; ++i) {  // 78 three-byte items fill all 234 bytes
        packet.payload[static_cast<std::size_t>(3 * i)] = static_cast<std::uint8_t>(i + 1);
        packet.payload[static_cast<std::size_t>(3 * i + 2)] = kFlagState;
    }
    const std::vector<int> handed = numbersOf(tsItems(packet));
    ASSERT_EQ(handed.size(), 78U);
    EXPECT_EQ(handed.back(), 78);
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
