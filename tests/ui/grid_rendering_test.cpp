#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "grid_test_support.h"
#include "trace_export_golden.h"
#include "ui/grid_view.h"
#include "ui/pixel_font.h"

namespace qvlink {
namespace {

/// Darkest grey level among the pixels of `rect`.
int darkestLevel(const QImage& image, const QRect& rect) {
    int darkest = 255;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
        }
    }
    return darkest;
}

/// A devices-like grid: one current row, one row grey with age.
TEST(GridRendering, DevicesGridDrawsHeaderSelectionAgedRowsAndLines) {
    const test::ScopedPalette palette(QColor(0xD4D0C8), Qt::white, Qt::black);
    GridView grid;
    grid.setColCount(5);
    grid.setRowCount(8);
    grid.setColWidths({30, 85, 110, 95, 60});
    grid.setHeaderRowHeight(18);
    grid.setDefaultRowHeight(21);
    grid.setGridLines(GridLines::Horizontal);
    const char* header[] = {"№", "Устр-во", "MAC-адрес", "IP-адрес", "Таймаут"};
    const char* devices[][4] = {{"Тирон", "FA:CE:01:00:11:22", "192.168.0.10", "0"},
                                {"Ларта", "FA:CE:02:00:33:44", "192.168.0.11", "75"},
                                {"Тирон", "FA:CE:01:00:55:66", "192.168.0.12", "3"}};
    for (int col = 0; col < 5; ++col) {
        grid.setCellText(col, 0, header[col]);
    }
    for (int row = 1; row <= 3; ++row) {
        grid.setCellText(0, row, std::to_string(row));
        for (int col = 1; col < 5; ++col) {
            grid.setCellText(col, row, devices[row - 1][col - 1]);
        }
    }
    for (int col = 0; col < 5; ++col) {
        grid.setCellFontColor(col, 2, clMedGray);
    }
    grid.repaintRow(2);
    grid.setCurrentRow(3);
    grid.resize(408, 230);
    test::showRows(grid, 9);

    const QImage image = grid.grab().toImage();
    if (const QByteArray path = qgetenv("QVLINK_GRID_SAMPLE_PNG"); !path.isEmpty()) {
        image.save(QString::fromLocal8Bit(path));
    }
    const auto cellRect = [&](int col, int row) {
        const QRect rect = grid.visualRect(grid.model()->index(row - 1, col - 1));
        return rect.translated(grid.viewport()->mapTo(&grid, QPoint(0, 0)));
    };
    const QRect header3 =
        QRect(grid.horizontalHeader()->mapTo(&grid, QPoint(0, 0)), QSize(1, 1))
            .translated(grid.horizontalHeader()->sectionViewportPosition(1) + 100, 3);
    EXPECT_EQ(QColor(image.pixel(header3.topLeft())), QColor(0xD4D0C8));
    EXPECT_EQ(QColor(image.pixel(cellRect(1, 3).topRight() + QPoint(-3, 3))),
              QColor(182, 202, 234));
    EXPECT_GE(darkestLevel(image, cellRect(2, 2).adjusted(0, 0, -1, -1)), 0x90);
    EXPECT_LT(darkestLevel(image, cellRect(2, 1).adjusted(0, 0, -1, -1)), 0x40);
    const QRect aged = cellRect(3, 2);
    EXPECT_EQ(QColor(image.pixel(aged.center().x(), aged.bottom())), QColor(0xC0C0C0));
    EXPECT_EQ(QColor(image.pixel(aged.right(), aged.top() + 1)), QColor(Qt::white));
}

TEST(GridHtmlExport, TraceGridWritesItsCellsInThePlatformColours) {
    const test::ScopedPalette palette(QColor(0xD4D0C8), Qt::white, Qt::black);
    auto grid = test::traceGrid(3);
    for (int col = 0; col < 4; ++col) {
        grid->setCellText(col, 0, test::kTraceHeader[col]);
        grid->setCellText(col, 1, test::kTraceRecord[col]);
    }
    const auto path =
        std::filesystem::temp_directory_path() /
        ("qvlink-grid-" + std::to_string(QCoreApplication::applicationPid()) + ".htm");
    grid->saveAsHtml(path.string());
    std::ifstream in(path, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    EXPECT_EQ(written, test::kGoldenOneRecordTrace);
}

}  // namespace
}  // namespace qvlink
