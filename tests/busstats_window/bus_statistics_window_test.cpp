#include "busstats_window/bus_statistics_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <map>
#include <string>
#include <vector>

#include "app/monitor_fixture.h"
#include "app/shortcuts.h"
#include "busstats/statistics_table.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::LoopbackUdpSocket;
using test::processEventsUntil;
using test::sequencedDatagram;

constexpr int column(DeviceColumn c) {
    return static_cast<int>(c);
}

QString cell(const QTableView* view, int row, int col) {
    return view->model()->index(row, col).data().toString();
}

/// The totals as "section/item" -> "count from sender".
std::map<QString, QString> totals(const QTableView* view) {
    std::map<QString, QString> rows;
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        rows[cell(view, r, 0) + "/" + cell(view, r, 1)] =
            (cell(view, r, 2) + " " + cell(view, r, 3)).trimmed();
    }
    return rows;
}

class BusStatisticsWindowTest : public ::testing::Test {
protected:
    BusStatisticsWindowTest() : window(FormatSettings{",", ":"}) {
        monitor.main->setBusStatisticsWindow(&window);
        for (QWidget* shown : {static_cast<QWidget*>(monitor.main.get()),
                               static_cast<QWidget*>(monitor.trace.get())}) {
            addShortcut(*shown, kBusStatisticsShortcut, [this] { window.showInFront(); });
        }
    }

    /// Device 01:00:00:0n sends `count` TS reports, one a second from the statistics' start.
    void sendReports(LoopbackUdpSocket& sender, std::uint8_t device, int count) {
        for (int i = 0; i < count; ++i) {
            sender.sendTo(
                monitor.busPort(),
                sequencedDatagram(1, device, static_cast<std::uint8_t>(i), kClassTs, 2, {5, 0, 1}));
        }
    }

    BusStatisticsWindow window;
    test::Monitor monitor;
};

TEST_F(BusStatisticsWindowTest, TheShortcutOpensItFromTheMainAndTheTraceWindow) {
    for (QWidget* from :
         {static_cast<QWidget*>(monitor.main.get()), static_cast<QWidget*>(monitor.trace.get())}) {
        window.hide();
        from->show();
        from->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(from));
        QTest::keyClick(from, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(window.isVisible()) << from->windowTitle().toStdString();
        from->hide();
    }
}

TEST_F(BusStatisticsWindowTest, TheRefreshShowsDevicesAndTotalsWhichSortByValue) {
    LoopbackUdpSocket sender("127.0.0.1");
    sendReports(sender, 1, 9);
    sendReports(sender, 2, 10);
    ASSERT_TRUE(processEventsUntil([&] { return monitor.totalDatagrams() == 19; }));
    LoopbackUdpSocket garbage("127.0.0.9");
    std::vector<std::uint8_t> badMagic = sequencedDatagram(1, 1, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;
    garbage.sendTo(monitor.busPort(), badMagic);
    garbage.sendTo(monitor.busPort(), {});
    garbage.sendTo(monitor.busPort(), std::vector<std::uint8_t>(241, 0xFA));
    ASSERT_TRUE(processEventsUntil([&] {
        return monitor.main->statistics().dropped(DropReason::NoMagic).count == 1 &&
               monitor.main->UdpServer.discardedDatagrams().oversized.count == 1 &&
               monitor.main->UdpServer.discardedDatagrams().empty.count == 1;
    }));

    // Hidden, it is not redrawn; shown, each tick redraws it.
    monitor.main->TimerSyncTimer();
    EXPECT_EQ(window.devicesView()->model()->rowCount(), 0);
    window.show();
    monitor.elapsedMs = 2500;
    monitor.main->TimerSyncTimer();

    const QTableView* devices = window.devicesView();
    ASSERT_EQ(devices->model()->rowCount(), 2);
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Mac)), "FA:CE:01:00:00:01");
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Type)), "Тирон");
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Ip)), "127.0.0.1");
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Bytes)), "108");
    EXPECT_EQ(cell(devices, 1, column(DeviceColumn::Datagrams)), "10");
    EXPECT_EQ(cell(devices, 1, column(DeviceColumn::Rate)), "1,0");
    EXPECT_EQ(cell(devices, 1, column(DeviceColumn::Silence)), "2,50");
    EXPECT_EQ(devices->model()->headerData(column(DeviceColumn::Missed), Qt::Horizontal),
              "Пропусков");

    const std::map<QString, QString> expected{
        {"Принято/всего", "19"},
        {"Принято/Тирон (1), класс 2", "19"},
        {"Отброшено/слишком длинный", "1 127.0.0.9"},
        {"Отброшено/нет сигнатуры FA CE", "1 127.0.0.9"},
        {"Отброшено/слишком короткий", "0"},
        {"Отброшено/неизвестный тип устройства", "0"},
        {"Отброшено/пустой", "1 127.0.0.9"},
        {"Отброшено/потерян: очередь сокета переполнена", "0"},
    };
    EXPECT_EQ(totals(window.totalsView()), expected);

    // By value, 9 before 10, both ways; as text it would be the other way round.
    window.devicesView()->sortByColumn(column(DeviceColumn::Datagrams), Qt::DescendingOrder);
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Datagrams)), "10");
    window.devicesView()->sortByColumn(column(DeviceColumn::Datagrams), Qt::AscendingOrder);
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Datagrams)), "9");

    // Sorted rows stay sorted as new traffic is drawn.
    sendReports(sender, 1, 3);
    ASSERT_TRUE(processEventsUntil([&] { return monitor.totalDatagrams() == 22; }));
    monitor.main->TimerSyncTimer();
    EXPECT_EQ(cell(devices, 0, column(DeviceColumn::Datagrams)), "10");
    EXPECT_EQ(cell(devices, 1, column(DeviceColumn::Datagrams)), "12");
}

TEST_F(BusStatisticsWindowTest, CtrlCCopiesTheSelectedCellsAsTabSeparatedText) {
    LoopbackUdpSocket sender("127.0.0.1");
    sendReports(sender, 1, 2);
    sendReports(sender, 2, 3);
    ASSERT_TRUE(processEventsUntil([&] { return monitor.totalDatagrams() == 5; }));
    window.show();
    monitor.main->TimerSyncTimer();

    QTableView* devices = window.devicesView();
    QItemSelectionModel* selection = devices->selectionModel();
    const QAbstractItemModel* model = devices->model();
    for (const auto& [row, col] :
         std::vector<std::pair<int, DeviceColumn>>{{1, DeviceColumn::Datagrams},
                                                   {0, DeviceColumn::Mac},
                                                   {1, DeviceColumn::Mac},
                                                   {0, DeviceColumn::Datagrams},
                                                   {1, DeviceColumn::Ip}}) {
        selection->select(model->index(row, column(col)), QItemSelectionModel::Select);
    }
    QApplication::clipboard()->clear();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    devices->setFocus();
    QTest::keyClick(devices, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "FA:CE:01:00:00:01\t2\nFA:CE:01:00:00:02\t127.0.0.1\t3\n");
}

}  // namespace
}  // namespace qvlink
