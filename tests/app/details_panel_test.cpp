#include "app/details_panel.h"

#include <gtest/gtest.h>

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

class DetailsPanelTest : public ::testing::Test {
protected:
    void receive(const std::vector<std::uint8_t>& bytes, const char* ip = "192.168.0.10") {
        TPacket packet;
        ASSERT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
        registry.updateDevice(ip, packet);
        if (packet.sequenced) {
            processTiPacket(packet, tables);
            processTsPacket(packet, tables);
        }
    }

    /// Label and bold value of one field.
    void expectField(int col, int row, const char* label, const std::string& value) {
        SCOPED_TRACE(label);
        EXPECT_EQ(grid.getCellText(col, row), std::string(label) + ":");
        EXPECT_EQ(grid.getCellText(col + 1, row), value);
        EXPECT_TRUE(grid.bold.count({col + 1, row}));
        EXPECT_FALSE(grid.bold.count({col, row}));
    }

    DeviceRegistry registry{fixedTime};
    TeleparamTables tables{fixedTime};
    FormatSettings format{".", ":"};
    FakeCellGrid grid{4};
    DetailsPanel panel{registry, tables, format, grid};
    const InfoPanelView emptyView{"Подробные сведения", false, false};
};

TEST_F(DetailsPanelTest, SequencedDeviceShowsEveryField) {
    receive(sequencedDatagram(1, 0x001122, 5, kClassTu, 0, {0}));
    receive(sequencedDatagram(1, 0x001122, 9, kClassTu, 0, {0}));

    EXPECT_EQ(panel.updateInfoGrid(SelectionKind::Device, 1),
              (InfoPanelView{"Подробные сведения об устройстве", true, true}));
    expectField(0, 0, "Устр-во", "Тирон");
    expectField(0, kInfoIpRow, "IP-адрес", "192.168.0.10");
    expectField(0, kInfoMacRow, "MAC-адрес", "FA:CE:01:00:11:22");
    expectField(2, 0, "Посл. пакет", "9");
    expectField(2, 1, "Всего", "2");
    expectField(2, 2, "Пропусков", "1");
    expectField(4, 0, "Рестарты", "0");
    expectField(4, 1, "Посл. прием", "14:03:27.045");
    expectField(4, 2, "Таймаут", "0");
    EXPECT_EQ(grid.texts.size(), 18U) << "row 3 stays empty";
}

TEST_F(DetailsPanelTest, ClassOnlyDeviceShowsDashesForSequenceFields) {
    std::vector<std::uint8_t> bytes = sequencedDatagram(204, 7, kClassOnlyTs, 0, 0, {0});
    receive(bytes);
    receive(bytes);
    panel.updateInfoGrid(SelectionKind::Device, 1);
    expectField(0, 0, "Устр-во", "Ларта-С");
    expectField(2, 0, "Посл. пакет", "-");
    expectField(2, 1, "Всего", "2");
    expectField(2, 2, "Пропусков", "-");
    expectField(4, 0, "Рестарты", "-");
}

TEST_F(DetailsPanelTest, OnePositionTsWithTimeTag) {
    receive(sequencedDatagram(16, 0x0A003C, 0, kClassTs, 3,
                              {5, 0, 0x09, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18}));
    EXPECT_EQ(panel.updateInfoGrid(SelectionKind::Ts, 5),
              (InfoPanelView{"Подробные сведения о ТС 5", true, false}));
    expectField(0, 0, "Тип", "ТС однопозиц.");
    expectField(0, 1, "Устр-во", "Ларта-К");
    expectField(0, 2, "MAC-адрес", "FA:CE:10:0A:00:3C");
    expectField(2, 0, "Состояние", "вкл");
    expectField(2, 1, "Код", "1");
    expectField(4, 0, "Метка времени", "12:30:10.000");
    expectField(4, 1, "Посл. прием", "14:03:27.045");
    expectField(4, 2, "Таймаут", "0");
}

TEST_F(DetailsPanelTest, TwoPositionTsLineBreakWithoutTimeTag) {
    receive(sequencedDatagram(1, 1, 0, kClassTs, 2, {7, 0, 0x04}));
    EXPECT_EQ(panel.updateInfoGrid(SelectionKind::Ts, 7).caption, "Подробные сведения о ТС 7");
    expectField(0, 0, "Тип", "ТС двухпозиц.");
    expectField(2, 0, "Состояние", "обрыв");
    expectField(2, 1, "Код", "00");
    expectField(4, 0, "Метка времени", "-");
}

TEST_F(DetailsPanelTest, TiPointNamesItsSourceOrADash) {
    receive(sequencedDatagram(17, 1, 0, kClassTi, 2, {3, 0, 0, 0, 0, 0x20, 0xC0}));
    EXPECT_EQ(panel.updateInfoGrid(SelectionKind::Ti, 3),
              (InfoPanelView{"Подробные сведения о ТИ 3", true, false}));
    expectField(0, 0, "Тип", "ТИ");
    expectField(0, 1, "Устр-во", "Ровен-8");
    expectField(2, 0, "Значение", "-2.50");
    EXPECT_EQ(grid.getCellText(2, 1), "");

    // An item attributed to a MAC the registry does not know (written straight into the
    // table) names no device.
    TTi foreign;
    foreign.number = 4;
    foreign.macAddr = "FA:CE:01:FF:FF:FF";
    tables.storeTi(foreign);
    panel.updateInfoGrid(SelectionKind::Ti, 4);
    expectField(0, 1, "Устр-во", "-");
}

TEST_F(DetailsPanelTest, SelectionsThatNameNothingShowTheEmptyState) {
    receive(sequencedDatagram(1, 1, 0, kClassTs, 2, {7, 0, 0x01}));
    const struct {
        const char* name;
        SelectionKind kind;
        int row;
    } cases[] = {
        {"nothing selected", SelectionKind::None, 0},
        {"device below the last", SelectionKind::Device, 2},
        {"device 0", SelectionKind::Device, 0},
        {"TS never received", SelectionKind::Ts, 8},
        {"TS row 501", SelectionKind::Ts, 501},
        {"TI row 501", SelectionKind::Ti, 501},
        {"TI never received", SelectionKind::Ti, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        panel.updateInfoGrid(SelectionKind::Ts, 7);
        ASSERT_FALSE(grid.texts.empty());
        EXPECT_EQ(panel.updateInfoGrid(c.kind, c.row), emptyView);
        EXPECT_TRUE(grid.texts.empty());
        EXPECT_TRUE(grid.bold.empty());
    }
}

}  // namespace
}  // namespace qvlink
