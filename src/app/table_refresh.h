#pragma once

// The once-a-second redraw of the device, TS and TI tables from the registry and the point
// tables. Each pass shows every age as it was before the pass, then adds the pass's second.

#include <cstdint>

#include "common/cell_grid.h"
#include "common/rendering.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink {

/// Age in seconds from which a row is drawn grey.
inline constexpr std::uint32_t kGreyOutSeconds = 60;

/// Column counts of the three live tables (number column included).
inline constexpr int kDevicesGridColumns = 5;
inline constexpr int kPointGridColumns = 3;

/// Grey for rows without news for a minute, explicit black otherwise.
constexpr TColor ageColor(std::uint32_t ageSeconds) {
    return ageSeconds >= kGreyOutSeconds ? clMedGray : clBlack;
}

/// Device n in row n: number, type and MAC written once, IP and age on every pass.
/// Devices past the grid's last row are written and aged all the same.
void updateDevicesGrid(DeviceRegistry& registry, CellGrid& grid);
/// TS n in row n: state and age of every valid entry.
void updateTsGrid(TeleparamTables& tables, CellGrid& grid);
/// TI n in row n: value and age of every valid entry.
void updateTiGrid(TeleparamTables& tables, CellGrid& grid, const FormatSettings& format);

/// The ages of a refresh without its drawing: one second on every device and every valid
/// point (a replay's refreshes that no frame would show).
void ageTables(DeviceRegistry& registry, TeleparamTables& tables);

/// Empties rows 1 to `rows` of the device table, as before the first device.
void clearDevicesGrid(CellGrid& grid, int rows);
/// Empties the state or value and the age of every point row; the numbers stay.
void clearPointGrid(CellGrid& grid);

/// Writes the point numbers 1 to 500 into column 0 of a TS or TI table.
void numberPointRows(CellGrid& grid);

}  // namespace qvlink
