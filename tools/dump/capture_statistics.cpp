#include "dump/capture_statistics.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "busstats/statistics_table.h"

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

void appendDeviceTable(const std::vector<StatisticsRow>& rows, std::string& out) {
    std::array<std::size_t, kDeviceColumnCount> widths{};
    for (std::size_t c = 0; c < kDeviceColumnCount; ++c) {
        widths[c] = displayWidth(kDeviceColumns[c].name);
        for (const StatisticsRow& row : rows) {
            widths[c] = std::max(widths[c], displayWidth(row[c].text));
        }
    }
    auto appendLine = [&](auto textOf) {
        for (std::size_t c = 0; c < kDeviceColumnCount; ++c) {
            if (c != 0) {
                out += "  ";
            }
            appendPadded(textOf(c), widths[c], kDeviceColumns[c].numeric, out);
        }
        out.erase(out.find_last_not_of(' ') + 1);
        out += '\n';
    };
    appendLine([](std::size_t c) { return std::string_view(kDeviceColumns[c].name); });
    for (const StatisticsRow& row : rows) {
        appendLine([&row](std::size_t c) { return std::string_view(row[c].text); });
    }
}

/// A titled section of "item  count  last sender" lines; rows with a zero count are left out.
void appendTotals(const char* title, const std::vector<TotalRow>& rows, std::string& out) {
    const bool any =
        std::any_of(rows.begin(), rows.end(), [](const TotalRow& row) { return row.count != 0; });
    if (!any) {
        return;
    }
    out += title;
    out += '\n';
    for (const TotalRow& row : rows) {
        if (row.count == 0) {
            continue;
        }
        out += "  ";
        appendPadded(row.item, 24, false, out);
        appendPadded(std::to_string(row.count), 10, true, out);
        if (!row.lastSender.empty()) {
            out += "  last from " + row.lastSender;
        }
        out += '\n';
    }
}

}  // namespace

CaptureStatistics::CaptureStatistics()
    : m_registry([this] { return m_captureTime; }), m_statistics(m_registry) {}

void CaptureStatistics::add(const DatagramRecord& record) {
    m_captureMs = record.timeMs;
    if (record.dropped) {
        m_statistics.countDropped(*record.dropped, record.ipText);
        return;
    }
    m_captureTime = record.time;
    m_registry.updateDevice(record.ipText, record.packet);
    m_statistics.countAccepted(record.packet, record.size, record.timeMs);
}

std::string CaptureStatistics::report(const FormatSettings& format) const {
    const std::uint64_t accepted = m_statistics.acceptedCount();
    const std::uint64_t dropped = m_statistics.droppedCount();
    std::string out = std::to_string(accepted + dropped) + " datagrams, " +
                      std::to_string(accepted) + " accepted, " + std::to_string(dropped) +
                      " not decoded, " + std::to_string(m_registry.deviceCount()) + " devices\n";
    appendDeviceTable(deviceRows(m_statistics, m_captureMs, format, StatisticsLanguage::English),
                      out);
    appendTotals("by type and class:", mixRows(m_statistics, StatisticsLanguage::English), out);
    appendTotals("not decoded:", dropRows(m_statistics, false, StatisticsLanguage::English), out);
    return out;
}

}  // namespace qvlink::dump
