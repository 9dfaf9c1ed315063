#include "app/table_refresh.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/packets.h"
#include "state/teleparam_tables.h"
#include "support/fake_cell_grid.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::FakeCellGrid;
using test::sequencedDatagram;

LocalDateTime fixedTime() {
    return {2026, 12, 9, 14, 3, 27, 45};
}

TPacket parsed(const std::vector<std::uint8_t>& bytes) {
    TPacket packet;
    EXPECT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    return packet;
}

class DevicesGridTest : public ::testing::Test {
protected:
    void send(std::uint32_t address, std::uint8_t seq, const char* ip, std::uint8_t type = 1) {
        registry.updateDevice(ip, parsed(sequencedDatagram(type, address, seq, kClassTu, 0, {0})));
    }

    DeviceRegistry registry{fixedTime};
    FakeCellGrid grid{30};
};

TEST_F(DevicesGridTest, NoDeviceWritesNothing) {
    updateDevicesGrid(registry, grid);
    EXPECT_TRUE(grid.texts.empty());
    EXPECT_TRUE(grid.colors.empty());
}

TEST_F(DevicesGridTest, RowShowsDeviceAndAgesCountUpThenGreyOutAndRecover) {
    send(0x112233, 0, "10.0.0.4", 17);
    std::vector<std::string> shownAges;
    for (int tick = 0; tick <= 61; ++tick) {
        updateDevicesGrid(registry, grid);
        shownAges.push_back(grid.getCellText(4, 1));
        const TColor expected = tick >= 60 ? clMedGray : clBlack;
        for (int col = 0; col < kDevicesGridColumns; ++col) {
            ASSERT_EQ(grid.colorOf(col, 1), expected) << "tick " << tick << " col " << col;
        }
    }
    EXPECT_EQ(shownAges[0], "0");
    EXPECT_EQ(shownAges[1], "1");
    EXPECT_EQ(shownAges[59], "59");
    EXPECT_EQ(shownAges[60], "01:00");
    EXPECT_EQ(shownAges[61], "01:01");
    EXPECT_EQ(grid.getCellText(0, 1), "1");
    EXPECT_EQ(grid.getCellText(1, 1), "Ровен-8");
    EXPECT_EQ(grid.getCellText(2, 1), "FA:CE:11:11:22:33");
    EXPECT_TRUE(grid.repaintedRows.count(1));

    send(0x112233, 1, "10.0.0.4", 17);
    updateDevicesGrid(registry, grid);
    EXPECT_EQ(grid.getCellText(4, 1), "0");
    EXPECT_EQ(grid.colorOf(0, 1), clBlack);
}

TEST_F(DevicesGridTest, ChangedIpShowsAtNextTickButTypeAndMacAreWrittenOnce) {
    send(1, 0, "10.0.0.4");
    updateDevicesGrid(registry, grid);
    send(1, 1, "10.0.0.9");
    updateDevicesGrid(registry, grid);
    updateDevicesGrid(registry, grid);

    EXPECT_EQ(grid.getCellText(3, 1), "10.0.0.9");
    EXPECT_EQ((grid.textWrites[{0, 1}]), 1);
    EXPECT_EQ((grid.textWrites[{1, 1}]), 1);
    EXPECT_EQ((grid.textWrites[{2, 1}]), 1);
}

TEST_F(DevicesGridTest, DevicesPastTheLastRowAreWrittenAndAgedAnyway) {
    for (std::uint32_t address = 1; address <= 30; ++address) {
        send(address, 0, "10.0.0.1");
    }
    updateDevicesGrid(registry, grid);
    updateDevicesGrid(registry, grid);
    EXPECT_EQ(grid.getCellText(0, 30), "30");
    TDevice thirtieth;
    ASSERT_TRUE(registry.getDevice(30, thirtieth));
    EXPECT_EQ(thirtieth.timeout, 2U);
    EXPECT_EQ(grid.RowCount(), 30);
}

TEST_F(DevicesGridTest, AgeColumnShowsLowSixteenBitsWhileRowStaysGrey) {
    send(1, 0, "10.0.0.4");
    for (int i = 0; i < 65536; ++i) {
        registry.incDeviceTimeout(0);
    }
    updateDevicesGrid(registry, grid);
    EXPECT_EQ(grid.getCellText(4, 1), "0");
    EXPECT_EQ(grid.colorOf(4, 1), clMedGray);
}

class PointGridsTest : public ::testing::Test {
protected:
    void store(std::vector<std::uint8_t> bytes) {
        const TPacket packet = parsed(bytes);
        processTiPacket(packet, tables);
        processTsPacket(packet, tables);
    }

    TeleparamTables tables{fixedTime};
    FakeCellGrid grid{502};
};

TEST_F(PointGridsTest, OnlyValidEntriesAreWritten) {
    store(sequencedDatagram(1, 1, 0, kClassTs, 2, {12, 0, 0x07}));
    updateTsGrid(tables, grid);
    EXPECT_EQ(grid.getCellText(1, 12), "авария");
    EXPECT_EQ(grid.getCellText(2, 12), "0");
    EXPECT_EQ(grid.colorOf(0, 12), clBlack);
    EXPECT_EQ(grid.texts.size(), 2U);
    EXPECT_EQ(grid.repaintedRows, std::set<int>{12});
}

TEST_F(PointGridsTest, TiValueUsesTheLocaleSeparatorAndGreysAfterAMinute) {
    store(sequencedDatagram(1, 1, 0, kClassTi, 2, {3, 0, 0, 0, 0, 0x20, 0xC0}));  // -2.5
    const FormatSettings russian{",", ":"};
    for (int tick = 0; tick < 60; ++tick) {
        updateTiGrid(tables, grid, russian);
    }
    EXPECT_EQ(grid.getCellText(1, 3), "-2,50");
    EXPECT_EQ(grid.getCellText(2, 3), "59");
    EXPECT_EQ(grid.colorOf(2, 3), clBlack);
    updateTiGrid(tables, grid, russian);
    EXPECT_EQ(grid.getCellText(2, 3), "01:00");
    for (int col = 0; col < kPointGridColumns; ++col) {
        EXPECT_EQ(grid.colorOf(col, 3), clMedGray);
    }
    TTs ts;
    EXPECT_FALSE(tables.getTs(3, ts)) << "TI and TS tables are independent";
}

TEST(PointRowNumbers, AreWrittenForEveryPoint) {
    FakeCellGrid grid(502);
    numberPointRows(grid);
    EXPECT_EQ(grid.getCellText(0, 1), "1");
    EXPECT_EQ(grid.getCellText(0, 500), "500");
    EXPECT_EQ(grid.getCellText(0, 501), "");
    EXPECT_EQ(grid.texts.size(), 500U);
}

}  // namespace
}  // namespace qvlink
