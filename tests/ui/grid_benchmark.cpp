// Cost of the grid under the program's two heavy patterns, painting included: the rolling
// trace (one row per datagram) and the once-a-second rewrite of the TS/TI tables.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <string>

#include "ui/frame_pacer.h"
#include "ui/grid_view.h"

namespace {

using qvlink::GridView;

/// A shown trace-shaped grid of 300 rows.
std::unique_ptr<GridView> shownTrace() {
    auto grid = std::make_unique<GridView>();
    grid->setColCount(4);
    grid->setFixedCols(0);
    grid->setRowCount(2);
    grid->setColWidths({90, 80, 350, 230});
    grid->setHeaderRowHeight(18);
    grid->setDefaultRowHeight(18);
    grid->resize(772, 443);
    grid->show();
    return grid;
}

/// One datagram logged the way the trace does it; `paintEvery` datagrams share a frame.
void traceRecords(benchmark::State& state) {
    const auto grid = shownTrace();
    const std::string dump(90, 'F');
    const std::string description = "Запрос времени, последовательность 17";
    const int paintEvery = static_cast<int>(state.range(0));
    std::uint64_t datagram = 0;
    for (auto _ : state) {
        grid->addRow();
        grid->setCurrentRow(grid->RowCount() - 2);
        const int row = grid->currentRow();
        grid->setCellText(0, row, "12:00:" + std::to_string(datagram % 60) + ".250");
        grid->setCellText(1, row, "192.168.0.10");
        grid->setCellText(2, row, dump);
        grid->setCellText(3, row, description);
        if (grid->RowCount() > 300) {
            grid->removeRows(1, 1);
        }
        if (++datagram % paintEvery == 0) {
            QCoreApplication::processEvents();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(traceRecords)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

/// One full paint of a trace grid showing 300 records: the cost of each display frame
/// while datagrams stream in.
void traceFrame(benchmark::State& state) {
    const auto grid = shownTrace();
    for (int row = 1; row < 300; ++row) {
        grid->addRow();
        grid->setCellText(0, row, "12:00:01.250");
        grid->setCellText(1, row, "192.168.0.10");
        grid->setCellText(2, row, std::string(90, 'F'));
        grid->setCellText(3, row, "Запрос времени, последовательность " + std::to_string(row));
    }
    grid->setCurrentRow(grid->RowCount() - 2);
    QCoreApplication::processEvents();
    auto* pacer = grid->findChild<qvlink::FramePacer*>();
    for (auto _ : state) {
        grid->viewport()->update();
        pacer->releaseHeldFrame();
    }
}
BENCHMARK(traceFrame)->Unit(benchmark::kMicrosecond);

/// One refresh pass of a TS table: 500 rows of two cells, three colour overrides and a
/// repaint per row, then one frame.
void refreshPass(benchmark::State& state) {
    GridView grid;
    grid.setColCount(3);
    grid.setRowCount(1002);
    grid.setColWidths({35, 60, 55});
    grid.setDefaultRowHeight(17);
    grid.resize(176, 411);
    grid.show();
    int pass = 0;
    for (auto _ : state) {
        ++pass;
        for (int row = 1; row <= 500; ++row) {
            grid.setCellText(1, row, (row + pass) % 2 ? "ВКЛ" : "ОТКЛ");
            grid.setCellText(2, row, std::to_string(pass));
            const qvlink::TColor color =
                (row + pass) % 60 == 0 ? qvlink::clMedGray : qvlink::clBlack;
            for (int col = 0; col < 3; ++col) {
                grid.setCellFontColor(col, row, color);
            }
            grid.repaintRow(row);
        }
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(refreshPass)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
