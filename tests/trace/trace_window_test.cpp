#include "trace/trace_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "app/monitor_fixture.h"
#include "protocol/packets.h"
#include "support/menu_actions.h"
#include "support/packet_builder.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

using test::DialogRecorder;
using test::sequencedDatagram;

TPacket packetFrom(std::uint32_t address, std::uint8_t seq) {
    const std::vector<std::uint8_t> bytes =
        sequencedDatagram(1, address, seq, kClassTs, 2, {5, 0, 1});
    TPacket packet;
    EXPECT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    return packet;
}

class TraceWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        trace.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&trace));
    }

    void record(const char* ip, std::uint32_t address = 0x001122, std::uint8_t seq = 0) {
        trace.addTraceRecord(ip, packetFrom(address, seq));
    }

    int records() const { return trace.GridTrace->RowCount() - 2; }

    DialogRecorder recorder;
    TFTrace trace{test::fixedClock, FormatSettings{".", ":"}, recorder.dialogs()};
    GridView& grid = *trace.GridTrace;
};

TEST_F(TraceWindowTest, RecordHoldsTimeSenderDumpAndDescriptionAboveTheEmptyLastRow) {
    record("10.0.0.5");
    ASSERT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.getCellText(0, 1), "12:00:01.250");
    EXPECT_EQ(grid.getCellText(1, 1), "10.0.0.5");
    EXPECT_EQ(grid.getCellText(2, 1), "FA CE 01 00 11 22 00 02 02 05 00 01 ");
    EXPECT_EQ(grid.getCellText(3, 1), "Тирон: ТС цикл");
    for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(grid.getCellText(col, 2), "");
    }
}

TEST_F(TraceWindowTest, KeepsTheNewest298RecordsWithoutMovingTheView) {
    for (int n = 0; n < 298; ++n) {
        record("10.0.0.1", 0x000100 + static_cast<std::uint32_t>(n));
    }
    ASSERT_EQ(grid.RowCount(), 300);
    EXPECT_EQ(grid.currentRow(), 298);

    record("10.0.0.1", 0x000300);
    EXPECT_EQ(grid.RowCount(), 300);
    EXPECT_EQ(grid.getCellText(2, 1).substr(0, 17), "FA CE 01 00 01 01") << "second datagram";
    EXPECT_EQ(grid.getCellText(2, 298).substr(0, 17), "FA CE 01 00 03 00");
    EXPECT_EQ(grid.getCellText(2, 299), "");
    EXPECT_EQ(grid.currentRow(), 299) << "the empty last row";

    // At the limit, a user reading older records is not scrolled away by new ones.
    grid.setTopRow(200);
    record("10.0.0.1", 0x000301);
    EXPECT_EQ(grid.topRow(), 200);
    EXPECT_EQ(grid.currentRow(), 299);
    EXPECT_EQ(grid.getCellText(2, 298).substr(0, 17), "FA CE 01 00 03 01");
}

TEST_F(TraceWindowTest, SwitchAndHiddenWindowLogNothing) {
    trace.ChActive->setChecked(false);
    record("10.0.0.5");
    EXPECT_EQ(records(), 0);
    trace.ChActive->setChecked(true);
    trace.hide();
    record("10.0.0.5");
    EXPECT_EQ(records(), 0);
    trace.show();
    record("10.0.0.5");
    EXPECT_EQ(records(), 1);
}

TEST_F(TraceWindowTest, FiltersMatchWholeTextsExactly) {
    const struct {
        const char* name;
        const char* ipFilter;
        const char* macFilter;
        const char* senderIp;
        bool logged;
    } cases[] = {
        {"no filter", "", "", "10.0.0.50", true},
        {"IP prefix is no match", "10.0.0.5", "", "10.0.0.50", false},
        {"IP exact", "10.0.0.5", "", "10.0.0.5", true},
        {"IP with a trailing blank", "10.0.0.5 ", "", "10.0.0.5", false},
        {"MAC exact", "", "FA:CE:01:00:11:22", "10.0.0.5", true},
        {"MAC in lower case", "", "fa:ce:01:00:11:22", "10.0.0.5", false},
        {"both match", "10.0.0.5", "FA:CE:01:00:11:22", "10.0.0.5", true},
        {"only the MAC matches", "10.0.0.6", "FA:CE:01:00:11:22", "10.0.0.5", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clearTrace();
        trace.EFilterIpAddr->setText(c.ipFilter);
        trace.EFilterMacAddr->setText(c.macFilter);
        record(c.senderIp);
        EXPECT_EQ(records(), c.logged ? 1 : 0);
    }
    trace.BRemoveIpAddrFilterClick();
    trace.BRemoveMacAddrFilterClick();
    EXPECT_TRUE(trace.EFilterIpAddr->text().isEmpty());
    EXPECT_TRUE(trace.EFilterMacAddr->text().isEmpty());
}

TEST_F(TraceWindowTest, DoubleClickCopiesSenderOrMacIntoTheFilters) {
    record("10.0.0.7", 0x0A003C);
    trace.GridTraceDblClickCell(1, 0);
    trace.GridTraceDblClickCell(1, 3);
    trace.GridTraceDblClickCell(0, 1);
    EXPECT_TRUE(trace.EFilterIpAddr->text().isEmpty());
    EXPECT_TRUE(trace.EFilterMacAddr->text().isEmpty());

    trace.GridTraceDblClickCell(1, 1);
    trace.GridTraceDblClickCell(1, 2);
    EXPECT_EQ(trace.EFilterIpAddr->text(), "10.0.0.7");
    EXPECT_EQ(trace.EFilterMacAddr->text(), "FA:CE:01:0A:00:3C");
    EXPECT_EQ(records(), 1) << "filters apply only to what arrives afterwards";

    trace.GridTraceDblClickCell(2, 1);  // the empty last row clears the filter
    EXPECT_TRUE(trace.EFilterIpAddr->text().isEmpty());
}

TEST_F(TraceWindowTest, ClearKeepsHeaderAndEmptyRow) {
    trace.BClearTraceClick();
    EXPECT_EQ(grid.RowCount(), 2);
    record("10.0.0.5");
    record("10.0.0.5");
    trace.BClearTraceClick();
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.getCellText(0, 0), "Время приема");
    record("10.0.0.8");
    EXPECT_EQ(grid.getCellText(1, 1), "10.0.0.8");
}

TEST_F(TraceWindowTest, SaveWritesSixLinesPerRecordAndRemembersTheName) {
    QTemporaryDir folder;
    const QString path = folder.filePath("trace.htm");
    for (int n = 0; n < 3; ++n) {
        record("10.0.0.5");
    }
    recorder.savePath = path;
    trace.BSaveTraceClick();
    ASSERT_TRUE(recorder.errors.empty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.count("\r\n"), 6 * 3 + 14);
    EXPECT_TRUE(bytes.endsWith("</table>\r\n"));
    EXPECT_EQ(trace.SaveTraceDialog.fileName, path);
    EXPECT_EQ(records(), 3);
}

TEST_F(TraceWindowTest, SaveFailureIsShownAndTheTraceStays) {
    record("10.0.0.5");
    recorder.savePath = QString("/nonexistent-folder/trace.htm");
    trace.BSaveTraceClick();
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0], "Cannot Create file /nonexistent-folder/trace.htm.");
    EXPECT_EQ(records(), 1);

    recorder.errors.clear();
    recorder.savePath.reset();
    trace.BSaveTraceClick();
    EXPECT_TRUE(recorder.errors.empty()) << "cancelling is not an error";
}

TEST_F(TraceWindowTest, RecordMenuActsOnTheRecordItWasOpenedOn) {
    record("10.0.0.5", 0x001122);
    const std::unique_ptr<QMenu> menu = trace.recordMenu(1);
    // Newer records push the first one out of the grid while the menu is open.
    for (int n = 0; n < 298; ++n) {
        record("10.0.0.9", 0x000300 + static_cast<std::uint32_t>(n));
    }
    ASSERT_NE(grid.getCellText(1, 1), "10.0.0.5");

    const struct {
        QString entry;
        QString clipboard;
    } copies[] = {
        {"Копировать",
         "12:00:01.250\t10.0.0.5\tFA CE 01 00 11 22 00 02 02 05 00 01 \tТирон: ТС цикл"},
        {"Копировать пакет (hex)", "FA CE 01 00 11 22 00 02 02 05 00 01 "},
    };
    for (const auto& c : copies) {
        SCOPED_TRACE(c.entry.toStdString());
        QGuiApplication::clipboard()->clear();
        ASSERT_TRUE(test::triggerMenuEntry(*menu, c.entry));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.clipboard);
    }

    ASSERT_TRUE(test::triggerMenuEntry(*menu, "Фильтр по этому IP"));
    ASSERT_TRUE(test::triggerMenuEntry(*menu, "Фильтр по этому MAC"));
    EXPECT_EQ(trace.EFilterIpAddr->text(), "10.0.0.5");
    EXPECT_EQ(trace.EFilterMacAddr->text(), "FA:CE:01:00:11:22");
    trace.BClearTraceClick();
    record("10.0.0.9", 0x001122);
    record("10.0.0.5", 0x000999);
    record("10.0.0.5", 0x001122);
    EXPECT_EQ(records(), 1) << "the filters work as if typed";
}

TEST_F(TraceWindowTest, MenuOutsideARecordOnlySavesAndCsvHasADialogOfItsOwn) {
    const std::unique_ptr<QMenu> menu = trace.recordMenu(1);  // the empty last row
    ASSERT_EQ(menu->actions().size(), 1);
    record("10.0.0.5");
    QTemporaryDir folder;
    const QString path = folder.filePath("trace.csv");
    recorder.savePath = path;
    ASSERT_TRUE(test::triggerMenuEntry(*menu, "Сохранить как CSV..."));
    ASSERT_TRUE(recorder.errors.empty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QByteArray("\xEF\xBB\xBFВремя приема,IP-адрес,Пакет,Расшифровка\r\n"
                         "12:00:01.250,10.0.0.5,FA CE 01 00 11 22 00 02 02 05 00 01 ,"
                         "Тирон: ТС цикл\r\n"));
    EXPECT_EQ(trace.SaveCsvDialog.fileName, path);
    EXPECT_EQ(trace.SaveCsvDialog.defaultExtension, "csv");
    EXPECT_EQ(trace.SaveTraceDialog.fileName, "Kelta2BusTrace.htm") << "the HTML one unchanged";

    recorder.savePath = QString("/nonexistent-folder/trace.csv");
    trace.saveTraceAsCsv();
    EXPECT_EQ(recorder.errors,
              std::vector<QString>{"Cannot Create file /nonexistent-folder/trace.csv."});
}

TEST_F(TraceWindowTest, TheProgramsOwnEntriesCloseEveryRecordMenu) {
    int opened = 0;
    trace.setMenuExtension([&opened](QMenu& menu) {
        menu.addAction(QStringLiteral("Запись и воспроизведение..."), [&opened] { ++opened; });
    });
    record("10.0.0.5");
    for (const int row : {1, 2}) {  // a record and the empty last row
        const std::unique_ptr<QMenu> menu = trace.recordMenu(row);
        ASSERT_FALSE(menu->actions().isEmpty());
        EXPECT_EQ(menu->actions().back()->text(), "Запись и воспроизведение...") << row;
        ASSERT_TRUE(test::triggerMenuEntry(*menu, "Запись и воспроизведение...")) << row;
    }
    EXPECT_EQ(opened, 2);
}

TEST_F(TraceWindowTest, LayoutAndDialogSettings) {
    EXPECT_EQ(trace.windowTitle(), "Трассировка шины QV-LINK");
    EXPECT_EQ(trace.GridTrace->geometry(), QRect(0, 73, 772, 443));
    EXPECT_EQ(trace.EFilterMacAddr->geometry(), QRect(464, 40, 105, 22));
    EXPECT_TRUE(trace.ChActive->isChecked());
    EXPECT_EQ(trace.SaveTraceDialog.fileName, "Kelta2BusTrace.htm");
    EXPECT_EQ(trace.SaveTraceDialog.defaultExtension, "html");
    EXPECT_EQ(trace.SaveTraceDialog.filter, "Веб-страница (*.htm; *.html)");
    EXPECT_EQ(trace.SaveTraceDialog.pattern, "*.htm");
    bool canEdit = true;
    TFTrace::GridTraceCanEditCell(1, 1, canEdit);
    EXPECT_FALSE(canEdit);
}

}  // namespace
}  // namespace qvlink
