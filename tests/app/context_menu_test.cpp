// The main window's context menus and Ctrl+C on its grids, on a real window fed over loopback.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "app/main_window.h"
#include "app/monitor_fixture.h"
#include "app/shortcuts.h"
#include "busstats_window/bus_statistics_window.h"
#include "support/menu_actions.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::Monitor;
using test::sequencedDatagram;

QString clipboardAfter(QMenu& menu, const QString& entry) {
    QGuiApplication::clipboard()->clear();
    EXPECT_TRUE(test::triggerMenuEntry(menu, entry)) << entry.toStdString();
    return QGuiApplication::clipboard()->text();
}

/// One device heard from 127.0.0.12 with TS 12 and TI 3, shown after a tick.
class MainWindowMenus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(monitor.sendAndWait(
            {
                sequencedDatagram(16, 0x0A003C, 1, kClassTs, 2, {12, 0, 0x07}),
                sequencedDatagram(16, 0x0A003C, 2, kClassTi, 2, {3, 0, 0, 0, 0, 0xC0, 0x3F}),
            },
            2, "127.0.0.12"));
        window.TimerSyncTimer();
    }

    Monitor monitor;
    TFMain& window = *monitor.main;
};

TEST_F(MainWindowMenus, DeviceRowCopiesItsAddressesAndOpensItsTrace) {
    EXPECT_EQ(window.deviceMenu(2), nullptr) << "no device in that row";
    const std::unique_ptr<QMenu> menu = window.deviceMenu(1);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(clipboardAfter(*menu, "Копировать MAC"), "FA:CE:10:0A:00:3C");
    EXPECT_EQ(clipboardAfter(*menu, "Копировать IP"), "127.0.0.12");

    ASSERT_TRUE(test::triggerMenuEntry(*menu, "Трассировка устройства"));
    EXPECT_TRUE(monitor.trace->isVisible());
    EXPECT_EQ(monitor.trace->EFilterMacAddr->text(), "FA:CE:10:0A:00:3C");
    ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(16, 0x0A003C, 3, kClassTu, 0, {0}),
                                     sequencedDatagram(16, 0x0A0099, 1, kClassTu, 0, {0})},
                                    4, "127.0.0.12"));
    EXPECT_EQ(monitor.trace->GridTrace->RowCount(), 3) << "only the chosen device is traced";
}

TEST_F(MainWindowMenus, PointRowCopiesTheRowAsItWasWhenTheMenuOpened) {
    EXPECT_EQ(window.pointMenu(*window.GridTs, 0), nullptr) << "the header row";
    EXPECT_EQ(window.pointMenu(*window.GridTs, 501), nullptr) << "below the last point";
    const std::unique_ptr<QMenu> tsMenu = window.pointMenu(*window.GridTs, 12);
    const std::unique_ptr<QMenu> tiMenu = window.pointMenu(*window.GridTi, 3);
    ASSERT_NE(tsMenu, nullptr);
    ASSERT_NE(tiMenu, nullptr);
    ASSERT_TRUE(monitor.sendAndWait(
        {sequencedDatagram(16, 0x0A003C, 3, kClassTs, 2, {12, 0, 0x01})}, 3, "127.0.0.12"));
    window.TimerSyncTimer();
    EXPECT_EQ(clipboardAfter(*tsMenu, "Копировать"), "12\tавария\t0");
    EXPECT_EQ(clipboardAfter(*tiMenu, "Копировать"), "3\t1.50\t0");
}

TEST_F(MainWindowMenus, EveryRowMenuOpensTheBusStatisticsAndShowsItsShortcut) {
    BusStatisticsWindow statistics(FormatSettings{".", ":"});
    window.setBusStatisticsWindow(&statistics);
    monitor.trace->setMenuExtension(
        [&statistics](QMenu& menu) { addBusStatisticsEntry(menu, statistics); });
    const struct {
        const char* name;
        std::unique_ptr<QMenu> menu;
    } cases[] = {
        {"device row", window.deviceMenu(1)},
        {"TS row", window.pointMenu(*window.GridTs, 12)},
        {"TI row", window.pointMenu(*window.GridTi, 3)},
        {"trace row", monitor.trace->recordMenu(1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.menu, nullptr);
        const QAction* entry = c.menu->actions().back();
        EXPECT_EQ(entry->text(), "Статистика шины");
        EXPECT_EQ(entry->shortcut(), kBusStatisticsShortcut);
        statistics.hide();
        ASSERT_TRUE(test::triggerMenuEntry(*c.menu, "Статистика шины"));
        EXPECT_TRUE(statistics.isVisible());
    }
    window.setBusStatisticsWindow(nullptr);
}

TEST_F(MainWindowMenus, CtrlCCopiesTheSelectionOfEachGrid) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.GridDevicesClickCell(1, 0);
    const struct {
        const char* name;
        GridView* grid;
        bool selectAll;
        QString startsWith;
    } cases[] = {
        {"devices: the current cell", window.GridDevices, false, "FA:CE:10:0A:00:3C"},
        {"TS: all rows", window.GridTs, true, "\t\n\t\n"},
        {"TI: all rows", window.GridTi, true, "\t\n\t\n1.50\t0\n"},
        {"details: all cells", window.GridInfo, true, "Устр-во:\tЛарта-К\tПосл. пакет:\t2\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.selectAll) {
            QTest::keyClick(c.grid, Qt::Key_A, Qt::ControlModifier);
        } else {
            c.grid->setCurrentRow(1);
            QTest::mouseClick(c.grid->viewport(), Qt::LeftButton, {},
                              c.grid->visualRect(c.grid->model()->index(0, 1)).center());
        }
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(c.grid, Qt::Key_C, Qt::ControlModifier);
        EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(c.startsWith))
            << QGuiApplication::clipboard()->text().left(60).toStdString();
    }
}

}  // namespace
}  // namespace qvlink
