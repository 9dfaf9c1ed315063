#include "app/details_panel.h"

namespace qvlink {
namespace {

const InfoPanelView kEmptyView{"Подробные сведения", false, false};

std::string ageText(std::uint32_t timeout) {
    return durationText(static_cast<std::uint16_t>(timeout));
}

}  // namespace

DetailsPanel::DetailsPanel(const DeviceRegistry& registry, const TeleparamTables& tables,
                           const FormatSettings& format, CellGrid& gridInfo)
    : m_registry(registry), m_tables(tables), m_format(format), m_grid(gridInfo) {}

InfoPanelView DetailsPanel::updateInfoGrid(SelectionKind kind, int row) {
    m_grid.clearAllCells();
    switch (kind) {
        case SelectionKind::Device:
            return updateInfoGridDevice(row);
        case SelectionKind::Ts:
            return updateInfoGridTs(row);
        case SelectionKind::Ti:
            return updateInfoGridTi(row);
        case SelectionKind::None:
            break;
    }
    return kEmptyView;
}

InfoPanelView DetailsPanel::updateInfoGridDevice(int number) {
    TDevice device;
    if (!m_registry.getDevice(number, device)) {
        return kEmptyView;
    }
    const auto sequencedOnly = [&device](auto count) {
        return device.sequenced ? std::to_string(count) : std::string("-");
    };
    setGridInfoField(0, 0, "Устр-во", deviceTypeName(device.deviceType));
    setGridInfoField(0, kInfoIpRow, "IP-адрес", device.ipAddr);
    setGridInfoField(0, kInfoMacRow, "MAC-адрес", device.macAddr);
    setGridInfoField(2, 0, "Посл. пакет", sequencedOnly(device.lastSeq));
    setGridInfoField(2, 1, "Всего", std::to_string(device.total));
    setGridInfoField(2, 2, "Пропусков", sequencedOnly(device.missed));
    setGridInfoField(4, 0, "Рестарты", sequencedOnly(device.restarts));
    setGridInfoField(4, 1, "Посл. прием", timeOfDayText(device.lastReceived, m_format));
    setGridInfoField(4, 2, "Таймаут", ageText(device.timeout));
    return {"Подробные сведения об устройстве", true, true};
}

InfoPanelView DetailsPanel::updateInfoGridTs(int number) {
    TTs entry;
    if (!m_tables.getTs(number, entry)) {
        return kEmptyView;
    }
    const char* positions = isDoublePoint(entry.flags) ? "двухпозиц." : "однопозиц.";
    setGridInfoField(0, 0, "Тип", std::string("ТС ") + positions);
    setGridInfoField(0, 1, "Устр-во", sourceDeviceName(entry.macAddr));
    setGridInfoField(0, 2, "MAC-адрес", entry.macAddr);
    setGridInfoField(2, 0, "Состояние", tsStateText(entry.flags));
    setGridInfoField(2, 1, "Код", tsCodeText(entry.flags));
    setPointTimes(entry.timeTag, entry.lastReceived, entry.timeout);
    return {"Подробные сведения о ТС " + std::to_string(number), true, false};
}

InfoPanelView DetailsPanel::updateInfoGridTi(int number) {
    TTi entry;
    if (!m_tables.getTi(number, entry)) {
        return kEmptyView;
    }
    setGridInfoField(0, 0, "Тип", "ТИ");
    setGridInfoField(0, 1, "Устр-во", sourceDeviceName(entry.macAddr));
    setGridInfoField(0, 2, "MAC-адрес", entry.macAddr);
    setGridInfoField(2, 0, "Значение", tiValueText(entry.value, m_format));
    setPointTimes(entry.timeTag, entry.lastReceived, entry.timeout);
    return {"Подробные сведения о ТИ " + std::to_string(number), true, false};
}

void DetailsPanel::setPointTimes(const TTimeTag& tag, const LocalDateTime& lastReceived,
                                 std::uint32_t timeout) {
    setGridInfoField(4, 0, "Метка времени", timestampText(tag));
    setGridInfoField(4, 1, "Посл. прием", timeOfDayText(lastReceived, m_format));
    setGridInfoField(4, 2, "Таймаут", ageText(timeout));
}

void DetailsPanel::setGridInfoField(int col, int row, const std::string& label,
                                    const std::string& value) {
    m_grid.setCellText(col, row, label + ":");
    m_grid.setCellText(col + 1, row, value);
    m_grid.setCellBold(col + 1, row);
}

std::string DetailsPanel::sourceDeviceName(const std::string& macAddr) const {
    TDevice device;
    return m_registry.findDeviceByMac(macAddr, device) ? deviceTypeName(device.deviceType) : "-";
}

}  // namespace qvlink
