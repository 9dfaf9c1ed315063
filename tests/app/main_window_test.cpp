#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/monitor_fixture.h"
#include "support/packet_builder.h"

namespace qvlink {
namespace {

using test::LoopbackUdpSocket;
using test::Monitor;
using test::processEventsUntil;
using test::sequencedDatagram;

const QColor kGrey(0xA0, 0xA0, 0xA4);

TEST(MainWindowStartup, NumbersThePointRowsAndHidesTheDetails) {
    Monitor monitor;
    TFMain& window = *monitor.main;
    EXPECT_TRUE(monitor.recorder.errors.empty());
    EXPECT_TRUE(window.UdpServer.isActive());
    for (GridView* grid : {window.GridTs, window.GridTi}) {
        EXPECT_EQ(grid->RowCount(), 502);
        EXPECT_EQ(grid->getCellText(0, 1), "1");
        EXPECT_EQ(grid->getCellText(0, 500), "500");
        EXPECT_EQ(grid->getCellText(0, 501), "");
        EXPECT_EQ(grid->getCellText(1, 1), "");
    }
    EXPECT_EQ(window.GridDevices->RowCount(), 30);
    EXPECT_EQ(window.GridDevices->getCellText(1, 0), "Устр-во");
    EXPECT_TRUE(window.GridInfo->isHidden());
    EXPECT_TRUE(window.PanelButtonsSpecific->isHidden());
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения");
    EXPECT_TRUE(monitor.trace->isHidden());
}

TEST(MainWindowStartup, TakenPortIsReportedAndTheWindowRunsOnWithoutReception) {
    LoopbackUdpSocket occupant("0.0.0.0");
    MonitorSettings settings;
    settings.busPort = occupant.port();
    Monitor monitor(settings);
    TFMain& window = *monitor.main;

    ASSERT_EQ(monitor.recorder.errors.size(), 1U);
    EXPECT_EQ(monitor.recorder.errors[0],
              "Could not bind socket. Address and port are already in use.");
    EXPECT_FALSE(window.UdpServer.isActive());
    for (GridView* grid : {window.GridTs, window.GridTi}) {
        EXPECT_EQ(grid->getCellText(0, 3), "3");
        EXPECT_EQ(grid->getCellText(0, 4), "");
    }
    window.TimerSyncTimer();
    EXPECT_EQ(window.GridDevices->getCellText(0, 1), "");
}

struct ControlGeometry {
    const char* name;
    QWidget* (*control)(TFMain&);
    QRect geometry;
};

TEST(MainWindowLayout, ControlsSitWhereTheLayoutPutsThem) {
    Monitor monitor;
    TFMain& window = *monitor.main;
    const ControlGeometry controls[] = {
        {"PanelInfo", [](TFMain& w) -> QWidget* { return w.PanelInfo; }, {0, 431, 772, 85}},
        {"PanelTi", [](TFMain& w) -> QWidget* { return w.PanelTi; }, {592, 0, 180, 431}},
        {"PanelTs", [](TFMain& w) -> QWidget* { return w.PanelTs; }, {412, 0, 180, 431}},
        {"PanelDevices", [](TFMain& w) -> QWidget* { return w.PanelDevices; }, {0, 0, 412, 431}},
        {"GridDevices", [](TFMain& w) -> QWidget* { return w.GridDevices; }, {2, 18, 408, 411}},
        {"GridTs", [](TFMain& w) -> QWidget* { return w.GridTs; }, {2, 18, 176, 411}},
        {"GridTi", [](TFMain& w) -> QWidget* { return w.GridTi; }, {2, 18, 176, 411}},
        {"PanelButtonsGlobal", [](TFMain& w) { return w.PanelButtonsGlobal; }, {620, 18, 150, 65}},
        {"BOpenTrace", [](TFMain& w) -> QWidget* { return w.BOpenTrace; }, {5, 32, 140, 25}},
        {"PanelButtonsSpecific",
         [](TFMain& w) { return w.PanelButtonsSpecific; },
         {470, 18, 150, 65}},
        {"BSendReprog", [](TFMain& w) -> QWidget* { return w.BSendReprog; }, {5, 0, 140, 25}},
        {"BSetDeviceIpAddr",
         [](TFMain& w) -> QWidget* { return w.BSetDeviceIpAddr; },
         {5, 32, 140, 25}},
        {"GridInfo", [](TFMain& w) -> QWidget* { return w.GridInfo; }, {2, 18, 468, 65}},
    };
    for (const ControlGeometry& c : controls) {
        EXPECT_EQ(c.control(window)->geometry(), c.geometry) << c.name;
    }
    EXPECT_EQ(window.size(), QSize(772, 516));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed border";
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.windowTitle(), "Келта 2 QV-LINK");
    EXPECT_EQ(monitor.trace->size(), QSize(772, 516));
    EXPECT_FALSE(monitor.trace->windowFlags() & Qt::WindowMinimizeButtonHint);
}

/// Pixel inside cell (col, row) of a shown grid, clear of its text and lines, in `grid`'s
/// own coordinates.
QPoint insideCell(const GridView& grid, int col, int row) {
    const QModelIndex index = grid.model()->index(row - grid.FixedRows(), col - grid.FixedCols());
    const QRect rect = grid.visualRect(index);
    return grid.viewport()->mapTo(&grid, rect.topRight() + QPoint(-3, 3));
}

bool isBlue(QRgb pixel) {
    return qBlue(pixel) > 160 && qRed(pixel) < 96 && qGreen(pixel) < 96;
}

int bluePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += isBlue(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

TEST(MainWindowLook, CurrentCellsStartAtTheFirstNormalCellAndShowAsTheLayoutSays) {
    Monitor monitor;
    TFMain& window = *monitor.main;
    window.GridInfo->show();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const struct {
        const char* name;
        GridView* grid;
        int currentCol, currentRow;
        bool drawnSelected;
    } grids[] = {
        {"GridDevices", window.GridDevices, 1, 1, false},
        {"GridTs", window.GridTs, 1, 1, true},
        {"GridTi", window.GridTi, 1, 1, true},
        {"GridInfo", window.GridInfo, 0, 0, true},
    };
    for (const auto& g : grids) {
        SCOPED_TRACE(g.name);
        ASSERT_EQ(g.grid->currentCol(), g.currentCol);
        ASSERT_EQ(g.grid->currentRow(), g.currentRow);
        const QImage image = g.grid->grab().toImage();
        const auto shownAs = [&](int col, int row) {
            return QColor(image.pixel(insideCell(*g.grid, col, row)));
        };
        const QColor plain = g.grid->cellAppearance(g.currentCol + 1, g.currentRow + 1).background;
        EXPECT_EQ(shownAs(g.currentCol + 1, g.currentRow + 1), plain);
        EXPECT_EQ(shownAs(g.currentCol, g.currentRow) != plain, g.drawnSelected);
    }
}

TEST(MainWindowLook, OnlyTheGroupBoxCaptionsAreBlue) {
    Monitor monitor;
    TFMain& window = *monitor.main;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (QGroupBox* box : {window.PanelDevices, window.PanelTs, window.PanelTi}) {
        SCOPED_TRACE(box->title().toStdString());
        const auto* grid = box->findChild<GridView*>();
        ASSERT_TRUE(grid->verticalScrollBar()->isVisible());
        EXPECT_GT(bluePixels(box->grab(QRect(0, 0, box->width(), grid->y())).toImage()), 20);
        EXPECT_EQ(bluePixels(grid->verticalScrollBar()->grab().toImage()), 0);
    }
}

class ReceptionTest : public ::testing::Test {
protected:
    Monitor monitor;
    TFMain& window = *monitor.main;
};

TEST_F(ReceptionTest, EachFamilyReachesTheRegistryTablesAndAfterATickTheGrids) {
    ASSERT_TRUE(monitor.sendAndWait(
        {
            sequencedDatagram(16, 0x0A003C, 1, kClassTs, 2, {12, 0, 0x07}),
            sequencedDatagram(1, 0x001122, 1, kClassTi, 2, {3, 0, 0, 0, 0, 0xC0, 0x3F}),
            sequencedDatagram(204, 0x000001, kClassOnlyTs, 0, 0, {1}),
        },
        3, "127.0.0.12"));
    EXPECT_EQ(window.GridTs->getCellText(1, 12), "") << "grids change only at the tick";

    window.TimerSyncTimer();
    EXPECT_EQ(window.GridDevices->getCellText(1, 1), "Ларта-К");
    EXPECT_EQ(window.GridDevices->getCellText(2, 1), "FA:CE:10:0A:00:3C");
    EXPECT_EQ(window.GridDevices->getCellText(3, 1), "127.0.0.12");
    EXPECT_EQ(window.GridDevices->getCellText(4, 1), "0");
    EXPECT_EQ(window.GridDevices->getCellText(1, 3), "Ларта-С");
    EXPECT_EQ(window.GridTs->getCellText(1, 12), "авария");
    EXPECT_EQ(window.GridTi->getCellText(1, 3), "1.50");
    EXPECT_EQ(window.GridTi->getCellText(2, 3), "0");
}

TEST_F(ReceptionTest, DroppedDatagramsLeaveNoTraceAnywhere) {
    monitor.trace->show();
    std::vector<std::uint8_t> badMagic = sequencedDatagram(1, 1, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;
    std::vector<std::uint8_t> tooLong = sequencedDatagram(1, 2, 0, kClassTs, 2, {5, 0, 1});
    tooLong.resize(kMaxDatagramSize + 1);
    const std::vector<std::uint8_t> tooShort{0xFA, 0xCE, 1, 0, 0, 3, 5, 2, 3};
    const std::vector<std::uint8_t> unknownType =
        sequencedDatagram(2, 4, 0, kClassTs, 2, {5, 0, 1});
    const std::vector<std::uint8_t> marker = sequencedDatagram(1, 9, 0, kClassTu, 0, {0});

    ASSERT_TRUE(monitor.sendAndWait({badMagic, tooLong, tooShort, unknownType, marker}, 1));
    EXPECT_EQ(window.registry().deviceCount(), 1);
    EXPECT_EQ(monitor.trace->GridTrace->RowCount(), 3) << "only the marker is traced";
    TTs ts;
    EXPECT_FALSE(window.tables().getTs(5, ts));
}

TEST_F(ReceptionTest, RowsGreyOutInTheTickThatShowsAMinuteAndRecoverAfterNews) {
    const auto tsDatagram = [](std::uint8_t seq) {
        return sequencedDatagram(1, 7, seq, kClassTs, 2, {9, 0, 0x01});
    };
    ASSERT_TRUE(monitor.sendAndWait({tsDatagram(0)}, 1));
    for (int tick = 0; tick < 60; ++tick) {
        window.TimerSyncTimer();
    }
    EXPECT_EQ(window.GridDevices->getCellText(4, 1), "59");
    EXPECT_NE(window.GridDevices->cellAppearance(0, 1).text, kGrey);
    window.TimerSyncTimer();
    EXPECT_EQ(window.GridDevices->getCellText(4, 1), "01:00");
    for (int col = 0; col < 5; ++col) {
        EXPECT_EQ(window.GridDevices->cellAppearance(col, 1).text, kGrey) << col;
    }
    EXPECT_EQ(window.GridTs->cellAppearance(0, 9).text, kGrey);

    ASSERT_TRUE(monitor.sendAndWait({tsDatagram(1)}, 2));
    window.TimerSyncTimer();
    EXPECT_EQ(window.GridDevices->getCellText(4, 1), "0");
    EXPECT_EQ(window.GridDevices->cellAppearance(0, 1).text, QColor(Qt::black));
    EXPECT_EQ(window.GridTs->cellAppearance(1, 9).text, QColor(Qt::black));
}

TEST_F(ReceptionTest, ChangedSenderAddressShowsAtTheNextTick) {
    const std::vector<std::uint8_t> first = sequencedDatagram(17, 5, 0, kClassTu, 0, {0});
    const std::vector<std::uint8_t> second = sequencedDatagram(17, 5, 1, kClassTu, 0, {0});
    ASSERT_TRUE(monitor.sendAndWait({first}, 1, "127.0.0.21"));
    window.TimerSyncTimer();
    window.GridDevices->setCellText(1, 1, "overwritten");
    ASSERT_TRUE(monitor.sendAndWait({second}, 2, "127.0.0.22"));
    window.TimerSyncTimer();
    EXPECT_EQ(window.GridDevices->getCellText(3, 1), "127.0.0.22");
    EXPECT_EQ(window.GridDevices->getCellText(1, 1), "overwritten") << "type is written once";
}

TEST_F(ReceptionTest, DetailsFollowClicksOnRowsHeadersAndPanels) {
    ASSERT_TRUE(monitor.sendAndWait({sequencedDatagram(1, 0x001122, 4, kClassTs, 2, {7, 0, 0x04})},
                                    1, "127.0.0.31"));

    window.GridDevicesClickCell(1, 2);
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения об устройстве");
    EXPECT_FALSE(window.GridInfo->isHidden());
    EXPECT_FALSE(window.PanelButtonsSpecific->isHidden());
    EXPECT_EQ(window.GridInfo->getCellText(1, 1), "127.0.0.31");
    EXPECT_EQ(window.GridInfo->getCellText(1, 2), "FA:CE:01:00:11:22");

    window.GridTsClickCell(7, 1);
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения о ТС 7");
    EXPECT_TRUE(window.PanelButtonsSpecific->isHidden());
    EXPECT_EQ(window.GridInfo->getCellText(1, 0), "ТС двухпозиц.");

    window.GridTsClickCell(0, 1);
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения о ТС 7") << "empties at the tick";
    window.TimerSyncTimer();
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения");
    EXPECT_TRUE(window.GridInfo->isHidden());

    window.GridTiClickCell(501, 1);
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения");

    window.GridDevicesClickCell(1, 0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.PanelTs, Qt::LeftButton, {}, QPoint(90, 8));
    EXPECT_EQ(window.selectionKind(), SelectionKind::None);
    EXPECT_EQ(window.PanelInfo->title(), "Подробные сведения") << "a panel click empties at once";
}

TEST_F(ReceptionTest, ClosingUnderAFloodEndsPromptlyAndDeliversNothingAfterward) {
    std::atomic<bool> flooding{true};
    const int port = monitor.busPort();
    std::thread flood([&] {
        LoopbackUdpSocket sender("127.0.0.41");
        std::uint8_t seq = 0;
        while (flooding) {
            sender.sendTo(port, sequencedDatagram(1, 1, seq++, kClassTs, 2, {1, 0, 1}));
        }
    });
    ASSERT_TRUE(processEventsUntil([&] { return monitor.totalDatagrams() > 1000; }));

    const auto started = std::chrono::steady_clock::now();
    window.close();
    const auto stopTime = std::chrono::steady_clock::now() - started;
    const std::uint32_t countedAtStop = monitor.totalDatagrams();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    flooding = false;
    flood.join();

    EXPECT_FALSE(window.UdpServer.isActive());
    EXPECT_EQ(monitor.totalDatagrams(), countedAtStop);
    EXPECT_LT(stopTime, std::chrono::seconds(2));
    std::printf("[ figures  ] close under flood took %.1f ms\n",
                std::chrono::duration<double, std::milli>(stopTime).count());
}

TEST_F(ReceptionTest, OpenTraceShowsItAndKeepsItsState) {
    monitor.trace->ChActive->setChecked(false);
    window.BOpenTraceClick();
    EXPECT_TRUE(monitor.trace->isVisible());
    window.BOpenTraceClick();
    EXPECT_TRUE(monitor.trace->isVisible());
    EXPECT_FALSE(monitor.trace->ChActive->isChecked());
    monitor.trace->close();
    EXPECT_FALSE(monitor.trace->isVisible());
    EXPECT_TRUE(window.UdpServer.isActive()) << "closing the trace does not end the program";
}

}  // namespace
}  // namespace qvlink
