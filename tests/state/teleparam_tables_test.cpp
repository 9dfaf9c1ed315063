#include "state/teleparam_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace qvlink {
namespace {

constexpr TTimeTag kNoon{24, 6, 15, 12, 30, 0, 10000};

TTs tsItem(std::uint16_t number, std::uint8_t flags, const std::string& mac,
           TTimeTag tag = TTimeTag{}) {
    TTs item;
    item.number = number;
    item.flags = flags;
    item.macAddr = mac;
    item.timeTag = tag;
    return item;
}

TTi tiItem(std::uint16_t number, float value) {
    TTi item;
    item.number = number;
    item.value = value;
    item.macAddr = "FA:CE:01:00:00:01";
    return item;
}

class TeleparamTablesTest : public ::testing::Test {
protected:
    LocalDateTime m_now{2024, 6, 15, 12, 30, 10, 500};
    TeleparamTables m_tables{[this] { return m_now; }};
};

TEST_F(TeleparamTablesTest, LatestItemOverwritesEveryField) {
    m_tables.storeTs(tsItem(12, 0x09, "FA:CE:01:00:00:0A", kNoon));
    m_tables.incTsTimeout(12);
    m_now.second = 20;
    m_tables.storeTs(tsItem(12, 0x06, "FA:CE:01:00:00:0B"));
    TTs entry;
    ASSERT_TRUE(m_tables.getTs(12, entry));
    EXPECT_TRUE(entry.valid);
    EXPECT_EQ(entry.flags, 0x06);
    EXPECT_EQ(entry.macAddr, "FA:CE:01:00:00:0B");
    EXPECT_EQ(entry.timeTag, TTimeTag{});  // no time tag clears the earlier one
    EXPECT_EQ(entry.timeout, 0U);
    EXPECT_EQ(entry.lastReceived.second, 20);
}

TEST_F(TeleparamTablesTest, TiEntryKeepsValueAndAges) {
    m_tables.storeTi(tiItem(500, -2.5F));
    m_tables.incTiTimeout(500);
    m_tables.incTiTimeout(500);
    TTi entry;
    ASSERT_TRUE(m_tables.getTi(500, entry));
    EXPECT_EQ(entry.value, -2.5F);
    EXPECT_EQ(entry.timeout, 2U);
    EXPECT_EQ(entry.lastReceived, m_now);
}

TEST_F(TeleparamTablesTest, NoEntryIsValidUntilAnItemInsideTheTableArrives) {
    for (const std::uint16_t number : {0, 501, 65535}) {
        m_tables.storeTs(tsItem(number, 0x01, "FA:CE:01:00:00:01"));
        m_tables.storeTi(tiItem(number, 1.0F));
    }
    m_tables.incTsTimeout(0);
    m_tables.incTiTimeout(501);
    TTs ts;
    ts.macAddr = "untouched";
    TTi ti;
    ti.value = 7.0F;
    for (int n = 0; n <= 501; ++n) {
        EXPECT_FALSE(m_tables.getTs(n, ts)) << n;
        EXPECT_FALSE(m_tables.getTi(n, ti)) << n;
    }
    EXPECT_FALSE(m_tables.getTs(65535, ts));
    EXPECT_EQ(ts.macAddr, "untouched");
    EXPECT_EQ(ti.value, 7.0F);
}

TEST_F(TeleparamTablesTest, TsAndTiTablesAreIndependent) {
    m_tables.storeTs(tsItem(1, 0x01, "FA:CE:01:00:00:01"));
    m_tables.incTsTimeout(1);
    TTi ti;
    EXPECT_FALSE(m_tables.getTi(1, ti));
    m_tables.storeTi(tiItem(1, 3.0F));
    TTs ts;
    ASSERT_TRUE(m_tables.getTs(1, ts));
    EXPECT_EQ(ts.timeout, 1U);
    ASSERT_TRUE(m_tables.getTi(1, ti));
    EXPECT_EQ(ti.timeout, 0U);
}

TEST_F(TeleparamTablesTest, DatagramItemsAreStoredInListOrder) {
    TPacket packet;
    packet.macAddr = "FA:CE:01:00:11:22";
    packet.msgClass = kClassTs;
    // Points 7, 501 (ignored), 7 again: the later item of one datagram wins.
    const std::uint8_t items[] = {0x07, 0x00, 0x01, 0xF5, 0x01, 0x01, 0x07, 0x00, 0x06};
    std::copy(std::begin(items), std::end(items), packet.payload.begin());
    processTsPacket(packet, m_tables);
    processTiPacket(packet, m_tables);
    TTs ts;
    ASSERT_TRUE(m_tables.getTs(7, ts));
    EXPECT_EQ(ts.flags, 0x06);
    EXPECT_EQ(ts.macAddr, "FA:CE:01:00:11:22");
    TTi ti;
    EXPECT_FALSE(m_tables.getTi(7, ti));  // a TS datagram leaves the TI table alone

    packet.msgClass = kClassTi;
    processTiPacket(packet, m_tables);
    EXPECT_TRUE(m_tables.getTi(7, ti));
}

}  // namespace
}  // namespace qvlink
