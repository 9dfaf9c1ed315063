// Trace export to places that cannot take it: a folder that does not exist and a full device.
// Each shows its own message, and the trace is the same afterwards and goes on logging.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/monitor_fixture.h"
#include "fault_support.h"
#include "ui/grid_view.h"

namespace qvlink {
namespace {

std::vector<std::string> traceCells(const GridView& grid) {
    std::vector<std::string> cells;
    for (int row = 0; row < grid.RowCount(); ++row) {
        for (int col = 0; col < grid.ColCount(); ++col) {
            cells.push_back(grid.getCellText(col, row));
        }
    }
    return cells;
}

std::vector<std::uint8_t> tsReport(std::uint8_t seq) {
    return test::busDatagram(1, 0x000006, seq, kClassTs, kSubtypeCyclic, {1, 0, 1});
}

TEST(TraceExportFaults, EachFailureShowsItsMessageAndLeavesTheTrace) {
    test::Monitor monitor;
    monitor.main->BOpenTraceClick();
    ASSERT_TRUE(monitor.sendAndWait({tsReport(0), tsReport(1), tsReport(2)}, 3, "127.0.0.6"));
    GridView& grid = *monitor.trace->GridTrace;
    ASSERT_EQ(grid.RowCount(), 5) << "header, three records, empty last row";
    const std::vector<std::string> before = traceCells(grid);

    const std::string missingFolder = "/nonexistent-qvlink-folder/trace.htm";
    const struct {
        std::string path;
        std::string message;
    } faults[] = {
        {missingFolder, "Cannot Create file " + missingFolder + "."},
        {"/dev/full", std::string(std::strerror(ENOSPC)) + "."},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.path);
        monitor.recorder.errors.clear();
        monitor.recorder.savePath = QString::fromStdString(fault.path);
        monitor.trace->BSaveTraceClick();
        ASSERT_EQ(monitor.recorder.errors.size(), 1U);
        EXPECT_EQ(monitor.recorder.errors[0].toStdString(), fault.message);
        EXPECT_EQ(traceCells(grid), before);
        EXPECT_TRUE(monitor.trace->isVisible());
    }

    ASSERT_TRUE(monitor.sendAndWait({tsReport(3)}, 4, "127.0.0.6"));
    EXPECT_EQ(grid.RowCount(), 6) << "logging goes on after the failed exports";
}

}  // namespace
}  // namespace qvlink
