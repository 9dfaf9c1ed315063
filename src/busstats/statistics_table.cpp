#include "busstats/statistics_table.h"

namespace qvlink {

namespace {

StatisticsCell countCell(std::uint64_t count) {
    return {std::to_string(count), static_cast<double>(count)};
}

StatisticsCell textCell(std::string text) {
    return {std::move(text), 0.0};
}

/// Seconds of a learned interval; "-" before the device has one.
StatisticsCell intervalCell(const DeviceStatisticsView& view, double ms,
                            const FormatSettings& format) {
    if (view.gapsLearned == 0) {
        return {"-", -1.0};
    }
    return {secondsText(ms, format), ms};
}

const char* lateMark(bool late, StatisticsLanguage language) {
    if (language == StatisticsLanguage::English) {
        return late ? "late" : "-";
    }
    return late ? "да" : "";
}

StatisticsRow deviceRow(const DeviceStatisticsView& view, const FormatSettings& format,
                        StatisticsLanguage language) {
    const TDevice& device = view.device;
    StatisticsRow row;
    auto cell = [&row](DeviceColumn column) -> StatisticsCell& {
        return row[static_cast<std::size_t>(column)];
    };
    cell(DeviceColumn::Mac) = textCell(device.macAddr);
    cell(DeviceColumn::Type) = textCell(deviceTypeName(device.deviceType));
    cell(DeviceColumn::Ip) = textCell(device.ipAddr);
    cell(DeviceColumn::Datagrams) = countCell(device.total);
    cell(DeviceColumn::Bytes) = countCell(view.bytes);
    cell(DeviceColumn::Rate) = {fixedText(view.ratePerSecond, 1, format), view.ratePerSecond};
    cell(DeviceColumn::Interval) = intervalCell(view, view.intervalMs, format);
    cell(DeviceColumn::Spread) = intervalCell(view, view.spreadMs, format);
    cell(DeviceColumn::Silence) = {secondsText(view.silenceMs, format), view.silenceMs};
    cell(DeviceColumn::Late) = {lateMark(view.late, language), view.late ? 1.0 : 0.0};
    cell(DeviceColumn::Missed) = countCell(device.missed);
    cell(DeviceColumn::Restarts) = countCell(device.restarts);
    cell(DeviceColumn::LastRestart) =
        textCell(view.lastRestart ? timeOfDayText(*view.lastRestart, format) : "-");
    cell(DeviceColumn::LastSeen) = textCell(timeOfDayText(device.lastReceived, format));
    return row;
}

}  // namespace

std::string lateDeviceText(const DeviceStatisticsView& view, const FormatSettings& format) {
    return view.device.macAddr + " (" + deviceTypeName(view.device.deviceType) + ", " +
           view.device.ipAddr + ") молчит " + secondsText(view.silenceMs, format) +
           " с при обычном интервале " + secondsText(view.intervalMs, format) + " с";
}

std::string secondsText(double ms, const FormatSettings& format) {
    return fixedText(ms / 1000.0, 2, format);
}

std::vector<StatisticsRow> deviceRows(const BusStatistics& statistics, std::int64_t nowMs,
                                      const FormatSettings& format, StatisticsLanguage language) {
    std::vector<StatisticsRow> rows;
    rows.reserve(static_cast<std::size_t>(statistics.deviceCount()));
    DeviceStatisticsView view;
    for (int number = 1; statistics.viewDevice(number, nowMs, view); ++number) {
        rows.push_back(deviceRow(view, format, language));
    }
    return rows;
}

std::vector<TotalRow> mixRows(const BusStatistics& statistics, StatisticsLanguage language) {
    const char* const classWord = language == StatisticsLanguage::English ? "class" : "класс";
    std::vector<TotalRow> rows;
    for (const auto& [key, count] : statistics.byTypeAndClass()) {
        rows.push_back({deviceTypeName(key.deviceType) + " (" + std::to_string(key.deviceType) +
                            "), " + classWord + " " + std::to_string(key.msgClass),
                        count,
                        {}});
    }
    return rows;
}

std::vector<TotalRow> dropRows(const BusStatistics& statistics, bool monitor,
                               StatisticsLanguage language) {
    const bool english = language == StatisticsLanguage::English;
    std::vector<TotalRow> rows;
    for (std::size_t i = 0; i < kDropReasonCount; ++i) {
        const auto reason = static_cast<DropReason>(i);
        if (monitor && isCaptureOnly(reason)) {
            continue;
        }
        const DropTally& tally = statistics.dropped(reason);
        rows.push_back({english ? dropReasonName(reason) : dropReasonCaption(reason), tally.count,
                        tally.lastSender});
    }
    if (monitor) {
        rows.push_back({english ? "kernel drops" : "потерян: очередь сокета переполнена",
                        statistics.kernelDrops(),
                        {}});
    }
    return rows;
}

}  // namespace qvlink
