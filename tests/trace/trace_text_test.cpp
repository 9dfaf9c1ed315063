#include "trace/trace_text.h"

#include <gtest/gtest.h>

#include "support/fake_cell_grid.h"
#include "trace/trace_log.h"

namespace qvlink {
namespace {

/// A trace grid: the header, two records and the empty last row.
test::FakeCellGrid traceGrid() {
    test::FakeCellGrid grid(4);
    const char* const rows[][4] = {
        {"Время приема", "IP-адрес", "Пакет", "Расшифровка"},
        {"12:00:01.250", "10.0.0.5", "FA CE 01 00 11 22 00 02 02 05 00 01 ", "Тирон: ТС цикл"},
        {"12:00:02.000", "10.0.0.6", "FA CE 02 00 00 07 ", "Текст: \"a;b\",\r\nc\td"},
    };
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col) {
            grid.setCellText(col, row, rows[row][col]);
        }
    }
    return grid;
}

TEST(TraceRecordAt, OnlyRecordRowsAreRecords) {
    const test::FakeCellGrid grid = traceGrid();
    for (int row : {-1, 0, 3, 4}) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(traceRecordAt(grid, row).has_value());
    }
    const std::optional<TraceRecordCopy> first = traceRecordAt(grid, 1);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->line,
              "12:00:01.250\t10.0.0.5\tFA CE 01 00 11 22 00 02 02 05 00 01 \tТирон: ТС цикл");
    EXPECT_EQ(first->ipAddr, "10.0.0.5");
    EXPECT_EQ(first->hexDump, "FA CE 01 00 11 22 00 02 02 05 00 01 ");
    EXPECT_EQ(first->macAddr, "FA:CE:01:00:11:22");
    const std::optional<TraceRecordCopy> second = traceRecordAt(grid, 2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->line, "12:00:02.000\t10.0.0.6\tFA CE 02 00 00 07 \tТекст: \"a;b\",  c d")
        << "a device's tab or line break cannot add a column or a line";
}

TEST(TraceCsv, ByteOrderMarkCaptionsAndOneQuotedLinePerRecord) {
    const test::FakeCellGrid grid = traceGrid();
    const std::string header = "\xEF\xBB\xBFВремя приема;IP-адрес;Пакет;Расшифровка\r\n";
    const std::string first =
        "12:00:01.250;10.0.0.5;FA CE 01 00 11 22 00 02 02 05 00 01 ;Тирон: ТС цикл\r\n";
    EXPECT_EQ(traceCsvBytes(grid, ';'),
              header + first +
                  "12:00:02.000;10.0.0.6;FA CE 02 00 00 07 ;\"Текст: \"\"a;b\"\",  c\td\"\r\n");
    const std::string commaBytes = traceCsvBytes(grid, ',');
    EXPECT_NE(commaBytes.find("\"Текст: \"\"a;b\"\",  c\td\"\r\n"), std::string::npos);
    EXPECT_NE(commaBytes.find("12:00:01.250,10.0.0.5,"), std::string::npos);
}

TEST(TraceCsv, EmptyTraceIsTheCaptionsAlone) {
    test::FakeCellGrid grid(2);
    grid.setCellText(kTraceTime, 0, "Время приема");
    EXPECT_EQ(traceCsvBytes(grid, ','), "\xEF\xBB\xBFВремя приема,,,\r\n");
}

TEST(CsvSeparator, FollowsTheDecimalSeparator) {
    EXPECT_EQ(csvSeparatorFor({",", ":"}), ';');
    EXPECT_EQ(csvSeparatorFor({".", ":"}), ',');
}

}  // namespace
}  // namespace qvlink
