#include "dump/bus_statistics.h"

#include <numeric>
#include <string_view>

namespace qvlink::dump {

namespace {

std::size_t displayWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (const char c : utf8) {
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return width;
}

void appendPadded(std::string_view text, std::size_t width, bool alignRight, std::string& out) {
    const std::size_t shown = displayWidth(text);
    const std::string padding(shown < width ? width - shown : 0, ' ');
    out += alignRight ? padding + std::string(text) : std::string(text) + padding;
}

struct Column {
    std::string_view title;
    std::size_t width;
    bool alignRight;
};

constexpr std::array<Column, 7> kDeviceColumns{{
    {"device", 17, false},
    {"type", 8, false},
    {"ip", 15, false},
    {"datagrams", 10, true},
    {"missed", 7, true},
    {"restarts", 9, true},
    {"last seen", 12, true},
}};

void appendRow(const std::array<std::string, kDeviceColumns.size()>& cells, std::string& out) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i != 0) {
            out += "  ";
        }
        appendPadded(cells[i], kDeviceColumns[i].width, kDeviceColumns[i].alignRight, out);
    }
    out += '\n';
}

}  // namespace

BusStatistics::BusStatistics() : m_registry([this] { return m_captureTime; }) {}

void BusStatistics::add(const DatagramRecord& record) {
    ++m_byStatus[static_cast<std::size_t>(record.status)];
    if (record.status == DumpStatus::Accepted) {
        m_captureTime = record.time;
        m_registry.updateDevice(record.ipText, record.packet);
    }
}

std::string BusStatistics::report(const FormatSettings& format) const {
    const std::uint64_t total =
        std::accumulate(m_byStatus.begin(), m_byStatus.end(), std::uint64_t{0});
    const std::uint64_t accepted = count(DumpStatus::Accepted);
    std::string out = std::to_string(total) + " datagrams, " + std::to_string(accepted) +
                      " accepted, " + std::to_string(total - accepted) + " not decoded, " +
                      std::to_string(m_registry.deviceCount()) + " devices\n";

    std::array<std::string, kDeviceColumns.size()> cells;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = kDeviceColumns[i].title;
    }
    appendRow(cells, out);
    for (int number = 1; number <= m_registry.deviceCount(); ++number) {
        TDevice device;
        m_registry.getDevice(number, device);
        cells = {device.macAddr,
                 deviceTypeName(device.deviceType),
                 device.ipAddr,
                 std::to_string(device.total),
                 std::to_string(device.missed),
                 std::to_string(device.restarts),
                 timeOfDayText(device.lastReceived, format)};
        appendRow(cells, out);
    }

    if (total != accepted) {
        out += "not decoded:\n";
        for (std::size_t i = 0; i < m_byStatus.size(); ++i) {
            const auto status = static_cast<DumpStatus>(i);
            if (status != DumpStatus::Accepted && m_byStatus[i] != 0) {
                out += "  ";
                appendPadded(statusText(status), 20, false, out);
                appendPadded(std::to_string(m_byStatus[i]), 10, true, out);
                out += '\n';
            }
        }
    }
    return out;
}

}  // namespace qvlink::dump
