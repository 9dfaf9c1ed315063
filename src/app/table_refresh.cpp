#include "app/table_refresh.h"

#include <string>

namespace qvlink {
namespace {

void colorRow(CellGrid& grid, int row, int columns, std::uint32_t ageSeconds) {
    const TColor color = ageColor(ageSeconds);
    for (int col = 0; col < columns; ++col) {
        grid.setCellFontColor(col, row, color);
    }
}

/// Writes the value and age cells of one valid point row, colours it and ages the entry.
template <typename Entry, typename ValueText, typename Age>
void refreshPointRow(CellGrid& grid, int row, const Entry& entry, ValueText valueText, Age age) {
    grid.setCellText(1, row, valueText(entry));
    grid.setCellText(2, row, durationText(static_cast<std::uint16_t>(entry.timeout)));
    colorRow(grid, row, kPointGridColumns, entry.timeout);
    age(row);
    grid.repaintRow(row);
}

}  // namespace

void updateDevicesGrid(DeviceRegistry& registry, CellGrid& grid) {
    const int count = registry.deviceCount();
    TDevice device;
    for (int n = 1; n <= count; ++n) {
        if (!registry.getDevice(n, device)) {
            continue;
        }
        if (grid.getCellText(0, n).empty()) {
            grid.setCellText(0, n, std::to_string(n));
            grid.setCellText(1, n, deviceTypeName(device.deviceType));
            grid.setCellText(2, n, device.macAddr);
            grid.setCellText(3, n, device.ipAddr);
        }
        grid.setCellText(3, n, device.ipAddr);
        grid.setCellText(4, n, durationText(static_cast<std::uint16_t>(device.timeout)));
        colorRow(grid, n, kDevicesGridColumns, device.timeout);
        registry.incDeviceTimeout(n - 1);
        grid.repaintRow(n);
    }
}

void updateTsGrid(TeleparamTables& tables, CellGrid& grid) {
    TTs entry;
    for (int i = 1; i <= kPointCount; ++i) {
        if (tables.getTs(i, entry)) {
            refreshPointRow(
                grid, i, entry, [](const TTs& ts) { return tsStateText(ts.flags); },
                [&tables](int number) { tables.incTsTimeout(number); });
        }
    }
}

void updateTiGrid(TeleparamTables& tables, CellGrid& grid, const FormatSettings& format) {
    TTi entry;
    for (int i = 1; i <= kPointCount; ++i) {
        if (tables.getTi(i, entry)) {
            refreshPointRow(
                grid, i, entry, [&format](const TTi& ti) { return tiValueText(ti.value, format); },
                [&tables](int number) { tables.incTiTimeout(number); });
        }
    }
}

namespace {

/// Empties columns `firstCol` up to the last of rows 1 to `rows` and unsets their colour.
void clearRows(CellGrid& grid, int firstCol, int columns, int rows) {
    for (int row = 1; row <= rows; ++row) {
        for (int col = 0; col < columns; ++col) {
            if (col >= firstCol) {
                grid.setCellText(col, row, {});
            }
            grid.setCellFontColor(col, row, clNone);
        }
        grid.repaintRow(row);
    }
}

}  // namespace

void ageTables(DeviceRegistry& registry, TeleparamTables& tables) {
    for (int index = 0; index < registry.deviceCount(); ++index) {
        registry.incDeviceTimeout(index);
    }
    tables.ageValidEntries();
}

void clearDevicesGrid(CellGrid& grid, int rows) {
    clearRows(grid, 0, kDevicesGridColumns, rows);
}

void clearPointGrid(CellGrid& grid) {
    clearRows(grid, 1, kPointGridColumns, kPointCount);
}

void numberPointRows(CellGrid& grid) {
    for (int n = 1; n <= kPointCount; ++n) {
        grid.setCellText(0, n, std::to_string(n));
    }
}

}  // namespace qvlink
