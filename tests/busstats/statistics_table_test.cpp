#include "busstats/statistics_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "busstats/scripted_bus.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::ScriptedBus;
using test::sequencedDatagram;

std::vector<std::string> texts(const StatisticsRow& row) {
    std::vector<std::string> out;
    for (const StatisticsCell& cell : row) {
        out.push_back(cell.text);
    }
    return out;
}

TEST(StatisticsTable, DeviceRowsShowEveryColumnInTheLocaleFormat) {
    ScriptedBus bus;
    // A steady device that restarts once, and a device heard once.
    const std::uint8_t sequence[] = {7, 8, 9, 10, 0, 1};
    for (int i = 0; i < 6; ++i) {
        bus.send(i * 1500, sequencedDatagram(1, 0x112233, sequence[i], kClassTs, 2, {5, 0, 1}));
    }
    bus.send(7000, sequencedDatagram(16, 0x3C, 0, kClassTi, 2, {1, 0, 0, 0, 0, 0, 0}), "10.0.0.60");

    const FormatSettings format{",", "."};
    const std::vector<StatisticsRow> english =
        deviceRows(bus.statistics, 12001, format, StatisticsLanguage::English);
    ASSERT_EQ(english.size(), 2u);
    EXPECT_EQ(texts(english[0]),
              (std::vector<std::string>{"FA:CE:01:11:22:33", "Тирон", "10.0.0.5", "6", "72", "0,4",
                                        "1,50", "0,00", "4,50", "late", "0", "1", "12.00.06.000",
                                        "12.00.07.500"}));
    EXPECT_EQ(texts(english[1]), (std::vector<std::string>{
                                     "FA:CE:10:00:00:3C", "Ларта-К", "10.0.0.60", "1", "16", "0,1",
                                     "-", "-", "5,00", "-", "0", "0", "-", "12.00.07.000"}));

    const std::vector<StatisticsRow> russian =
        deviceRows(bus.statistics, 12000, format, StatisticsLanguage::Russian);
    const auto late = static_cast<std::size_t>(DeviceColumn::Late);
    EXPECT_EQ(russian[0][late].text, "");  // 4.5 s is not yet beyond three intervals
    EXPECT_EQ(deviceRows(bus.statistics, 12001, format, StatisticsLanguage::Russian)[0][late].text,
              "да");

    // Numeric cells sort by their value, a device without an interval first.
    const auto interval = static_cast<std::size_t>(DeviceColumn::Interval);
    EXPECT_LT(english[1][interval].sortValue, english[0][interval].sortValue);
    EXPECT_DOUBLE_EQ(english[0][static_cast<std::size_t>(DeviceColumn::Bytes)].sortValue, 72);
}

TEST(StatisticsTable, ALateDeviceIsNamedWithItsSilenceAndItsUsualInterval) {
    ScriptedBus bus;
    for (std::uint8_t seq = 0; seq < 6; ++seq) {
        bus.send(seq * 1250, sequencedDatagram(16, 0x3C, seq, kClassTs, 2, {5, 0, 1}), "10.0.0.60");
    }
    const std::vector<int> late = bus.statistics.takeNewlyLate(6250 + 3751);
    ASSERT_EQ(late, std::vector<int>{1});
    EXPECT_EQ(lateDeviceText(bus.view(late[0], 6250 + 3751), {",", ":"}),
              "FA:CE:10:00:00:3C (Ларта-К, 10.0.0.60) молчит 3,75 с при обычном интервале 1,25 с");
}

TEST(StatisticsTable, TotalsListTheMixAndEveryDropReasonOfTheirReader) {
    ScriptedBus bus;
    bus.send(0, sequencedDatagram(1, 1, 0, kClassTs, 2, {5, 0, 1}));
    bus.send(1, sequencedDatagram(1, 1, 1, kClassTi, 2, {1, 0, 0, 0, 0, 0, 0}));
    bus.send(2, {0xFA, 0xCF, 1}, "10.0.0.9");
    bus.statistics.setDropTally(DropReason::Empty, {2, "10.0.0.7"});
    bus.statistics.setKernelDrops(17);

    EXPECT_EQ(
        mixRows(bus.statistics, StatisticsLanguage::Russian),
        (std::vector<TotalRow>{{"Тирон (1), класс 1", 1, ""}, {"Тирон (1), класс 2", 1, ""}}));
    EXPECT_EQ(mixRows(bus.statistics, StatisticsLanguage::English)[0].item, "Тирон (1), class 1");

    const std::vector<TotalRow> monitor =
        dropRows(bus.statistics, true, StatisticsLanguage::Russian);
    EXPECT_EQ(monitor, (std::vector<TotalRow>{{"слишком длинный", 0, ""},
                                              {"нет сигнатуры FA CE", 1, "10.0.0.9"},
                                              {"слишком короткий", 0, ""},
                                              {"неизвестный тип устройства", 0, ""},
                                              {"пустой", 2, "10.0.0.7"},
                                              {"потерян: очередь сокета переполнена", 17, ""}}));

    const std::vector<TotalRow> capture =
        dropRows(bus.statistics, false, StatisticsLanguage::English);
    std::vector<std::string> names;
    for (const TotalRow& row : capture) {
        names.push_back(row.item);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"too long", "bad magic", "too short", "unknown device type",
                                        "empty", "fragment", "truncated"}));
}

}  // namespace
}  // namespace qvlink
