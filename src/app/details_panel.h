#pragma once

// The details panel under the three tables: label/value cells of one selected device, TS
// point or TI point, rebuilt from the live state on every refresh and after every click.

#include <cstdint>
#include <string>

#include "common/cell_grid.h"
#include "common/rendering.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink {

enum class SelectionKind : std::uint8_t { None = 0, Device = 1, Ts = 2, Ti = 3 };

/// What the panel shows around the cells: its caption and which controls are visible.
struct InfoPanelView {
    std::string caption;
    bool gridVisible = false;
    bool deviceButtonsVisible = false;

    friend bool operator==(const InfoPanelView&, const InfoPanelView&) = default;
};

/// Value cells the device commands read back: the IP and MAC texts of the shown device.
inline constexpr int kInfoValueColumn = 1;
inline constexpr int kInfoIpRow = 1;
inline constexpr int kInfoMacRow = 2;

class DetailsPanel {
public:
    DetailsPanel(const DeviceRegistry& registry, const TeleparamTables& tables,
                 const FormatSettings& format, CellGrid& gridInfo);

    /// Empties the cells and fills them for the selection; a selection that names nothing
    /// (unknown device, never-received or out-of-range point) shows the empty state.
    InfoPanelView updateInfoGrid(SelectionKind kind, int row);

private:
    InfoPanelView updateInfoGridDevice(int number);
    InfoPanelView updateInfoGridTs(int number);
    InfoPanelView updateInfoGridTi(int number);
    /// Label + ":" at (col, row), the value in bold at (col + 1, row).
    void setGridInfoField(int col, int row, const std::string& label, const std::string& value);
    /// Name of the device that sent a point, or "-" when it is not registered.
    std::string sourceDeviceName(const std::string& macAddr) const;
    void setPointTimes(const TTimeTag& tag, const LocalDateTime& lastReceived,
                       std::uint32_t timeout);

    const DeviceRegistry& m_registry;
    const TeleparamTables& m_tables;
    const FormatSettings& m_format;
    CellGrid& m_grid;
};

}  // namespace qvlink
