// Fuzz target: received bus datagrams through everything below the windows. The input is one
// or more datagrams separated by kDatagramSeparator, all from one process state, so that
// sequence accounting and the tables see a history. Every datagram goes through the reception
// checks, parsing, registration and both item walks (BusReception), the trace log and the
// description; afterwards every stored device and point is rendered as the refresh and the
// details panel render it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/bus_reception.h"
#include "app/details_panel.h"
#include "app/table_refresh.h"
#include "busstats/statistics_table.h"
#include "common/rendering.h"
#include "fuzz_check.h"
#include "protocol/description.h"
#include "support/fake_cell_grid.h"
#include "trace/trace_log.h"

namespace qvlink {
namespace {

/// Splits one input into several datagrams (the fuzzer learns it from the dictionary).
constexpr std::string_view kDatagramSeparator = "QVSPLIT";
constexpr std::size_t kMacTextLength = 17;

LocalDateTime fixedClock() {
    return {2026, 12, 9, 12, 0, 1, 250};
}

const FormatSettings kFormat{",", ":"};

std::vector<std::string_view> splitDatagrams(std::string_view input) {
    std::vector<std::string_view> datagrams;
    for (;;) {
        const std::size_t at = input.find(kDatagramSeparator);
        datagrams.push_back(input.substr(0, at));
        if (at == std::string_view::npos) {
            return datagrams;
        }
        input.remove_prefix(at + kDatagramSeparator.size());
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isMacText(const std::string& mac) {
    return mac.size() == kMacTextLength && mac.starts_with("FA:CE:");
}

/// "hh:mm:ss.zzz" with fields of at least two (three for the milliseconds) digits.
bool isTimestampShape(const std::string& text) {
    int colons = 0;
    int points = 0;
    for (const char c : text) {
        colons += c == ':';
        points += c == '.';
        QVLINK_FUZZ_CHECK(isDigit(c) || c == ':' || c == '.');
    }
    return colons == 2 && points == 1 && text.size() >= 12;
}

/// Fixed point with exactly two decimals behind the separator, or a special value.
void checkValueText(float value, const std::string& text) {
    if (text == "NAN" || text == "-NAN" || text == "INF" || text == "-INF") {
        QVLINK_FUZZ_CHECK(!(value == value) || value - value != 0.0F);
        return;
    }
    const std::size_t separator = text.rfind(kFormat.decimalSeparator);
    QVLINK_FUZZ_CHECK(separator != std::string::npos && separator + 3 == text.size());
    QVLINK_FUZZ_CHECK(isDigit(text[separator + 1]) && isDigit(text[separator + 2]));
    QVLINK_FUZZ_CHECK(text.size() <= 1 + 39 + 1 + 2);  // a float has at most 39 integer digits
}

template <typename Entry>
void checkPointEntry(const DeviceRegistry& registry, int number, const Entry& entry) {
    QVLINK_FUZZ_CHECK(entry.valid && entry.number == number);
    QVLINK_FUZZ_CHECK(isMacText(entry.macAddr));
    TDevice source;
    QVLINK_FUZZ_CHECK(registry.findDeviceByMac(entry.macAddr, source) ||
                      registry.deviceCount() == DeviceRegistry::kMaxDevices);
    const std::string stamp = timestampText(entry.timeTag);
    QVLINK_FUZZ_CHECK(entry.timeTag.month == 0 ? stamp == "-" : isTimestampShape(stamp));
}

void checkTables(const DeviceRegistry& registry, const TeleparamTables& tables) {
    for (int number = -1; number <= kPointCount + 2; ++number) {
        TTs ts;
        TTi ti;
        const bool hasTs = tables.getTs(number, ts);
        const bool hasTi = tables.getTi(number, ti);
        if (number < 1 || number > kPointCount) {
            QVLINK_FUZZ_CHECK(!hasTs && !hasTi);
            continue;
        }
        if (hasTs) {
            checkPointEntry(registry, number, ts);
            const std::string code = tsCodeText(ts.flags);
            QVLINK_FUZZ_CHECK(code.size() == (isDoublePoint(ts.flags) ? 2U : 1U));
            QVLINK_FUZZ_CHECK(!tsStateText(ts.flags).empty());
        }
        if (hasTi) {
            checkPointEntry(registry, number, ti);
            checkValueText(ti.value, tiValueText(ti.value, kFormat));
        }
    }
}

void checkRegistry(const DeviceRegistry& registry, std::uint32_t accepted) {
    QVLINK_FUZZ_CHECK(registry.deviceCount() <= DeviceRegistry::kMaxDevices);
    std::uint32_t total = 0;
    for (int number = 1; number <= registry.deviceCount(); ++number) {
        TDevice device;
        QVLINK_FUZZ_CHECK(registry.getDevice(number, device));
        QVLINK_FUZZ_CHECK(isMacText(device.macAddr));
        QVLINK_FUZZ_CHECK(registry.indexOfDevice(device.macAddr) == number - 1);
        QVLINK_FUZZ_CHECK(!deviceTypeName(device.deviceType).empty());
        QVLINK_FUZZ_CHECK(!durationText(static_cast<std::uint16_t>(device.timeout)).empty());
        total += device.total;
    }
    TDevice outside;
    QVLINK_FUZZ_CHECK(!registry.getDevice(0, outside) &&
                      !registry.getDevice(registry.deviceCount() + 1, outside));
    QVLINK_FUZZ_CHECK(total == accepted);
}

/// One refresh tick and the details panel for every row the tables can select.
void renderViews(DeviceRegistry& registry, TeleparamTables& tables) {
    test::FakeCellGrid devices(30);
    test::FakeCellGrid tsGrid(kPointCount + 2);
    test::FakeCellGrid tiGrid(kPointCount + 2);
    updateDevicesGrid(registry, devices);
    updateTsGrid(tables, tsGrid);
    updateTiGrid(tables, tiGrid, kFormat);
    for (const test::FakeCellGrid* grid : {&tsGrid, &tiGrid}) {
        for (const auto& [cell, text] : grid->texts) {
            QVLINK_FUZZ_CHECK(cell.second >= 1 && cell.second <= kPointCount);
        }
    }

    test::FakeCellGrid info;
    DetailsPanel details(registry, tables, kFormat, info);
    for (int row = -1; row <= registry.deviceCount() + 1; ++row) {
        const InfoPanelView view = details.updateInfoGrid(SelectionKind::Device, row);
        QVLINK_FUZZ_CHECK(view.gridVisible == (row >= 1 && row <= registry.deviceCount()));
    }
    // Every stored point, and the rows around the ends of the tables.
    for (const int row : {0, 1, int{kPointCount}, kPointCount + 1}) {
        QVLINK_FUZZ_CHECK(details.updateInfoGrid(SelectionKind::Ts, row).gridVisible ==
                          tsGrid.texts.contains({1, row}));
        QVLINK_FUZZ_CHECK(details.updateInfoGrid(SelectionKind::Ti, row).gridVisible ==
                          tiGrid.texts.contains({1, row}));
    }
    for (const auto& [cell, text] : tsGrid.texts) {
        QVLINK_FUZZ_CHECK(details.updateInfoGrid(SelectionKind::Ts, cell.second).gridVisible);
    }
    for (const auto& [cell, text] : tiGrid.texts) {
        QVLINK_FUZZ_CHECK(details.updateInfoGrid(SelectionKind::Ti, cell.second).gridVisible);
    }
}

}  // namespace
}  // namespace qvlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qvlink;
    DeviceRegistry registry(fixedClock);
    TeleparamTables tables(fixedClock);
    BusStatistics statistics(registry);
    std::int64_t nowMs = 0;
    BusReception reception(registry, tables, statistics, [&nowMs] { return nowMs += 7; });
    test::FakeCellGrid traceGrid(2);
    TraceLog trace(traceGrid, fixedClock, kFormat);
    const TraceFilter filter{true, true, {}, {}};

    std::size_t currentSize = 0;
    std::uint32_t hooked = 0;
    reception.setTraceHook([&](const std::string& ipAddr, const TPacket& packet) {
        ++hooked;
        QVLINK_FUZZ_CHECK(packet.hexDump.size() == 3 * currentSize);
        QVLINK_FUZZ_CHECK(isMacText(packet.macAddr));
        QVLINK_FUZZ_CHECK(!describePacket(packet, kFormat).empty());
        trace.addTraceRecord(ipAddr, packet, filter);
        QVLINK_FUZZ_CHECK(traceGrid.RowCount() <= TraceLog::kMaxRowCount);
    });

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::uint32_t accepted = 0;
    int sender = 0;
    for (const std::string_view datagram : splitDatagrams(input)) {
        currentSize = datagram.size();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(datagram.data());
        const std::uint32_t hookedBefore = hooked;
        const DatagramVerdict verdict =
            reception.receive(bytes, datagram.size(), "10.0.0." + std::to_string(++sender % 256));
        QVLINK_FUZZ_CHECK(verdict == classifyDatagram(bytes, datagram.size()));
        QVLINK_FUZZ_CHECK((hooked != hookedBefore) == (verdict == DatagramVerdict::Accepted));
        accepted += verdict == DatagramVerdict::Accepted;
    }
    checkRegistry(registry, accepted);
    // Every datagram is counted once, as accepted or under one drop reason, and the
    // statistics of every device can be shown.
    QVLINK_FUZZ_CHECK(statistics.acceptedCount() == accepted);
    QVLINK_FUZZ_CHECK(statistics.acceptedCount() + statistics.droppedCount() ==
                      static_cast<std::uint64_t>(sender));
    QVLINK_FUZZ_CHECK(deviceRows(statistics, nowMs, kFormat, StatisticsLanguage::Russian).size() ==
                      static_cast<std::size_t>(registry.deviceCount()));
    checkTables(registry, tables);
    renderViews(registry, tables);
    return 0;
}
