#pragma once

// The statistics as rows of cells: the capture tool prints them, the statistics window shows
// them. Both read the same rows, so both say the same about the same traffic.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "busstats/bus_statistics.h"
#include "common/rendering.h"

namespace qvlink {

enum class StatisticsLanguage { English, Russian };

enum class DeviceColumn {
    Mac,
    Type,
    Ip,
    Datagrams,
    Bytes,
    Rate,
    Interval,
    Spread,
    Silence,
    Late,
    Missed,
    Restarts,
    LastRestart,
    LastSeen,
};
inline constexpr std::size_t kDeviceColumnCount = 14;

struct StatisticsColumn {
    const char* name;     ///< English title
    const char* caption;  ///< Russian title
    bool numeric;         ///< right-aligned, sorted by value
};

inline constexpr std::array<StatisticsColumn, kDeviceColumnCount> kDeviceColumns{{
    {"device", "MAC-адрес", false},
    {"type", "Устр-во", false},
    {"ip", "IP-адрес", false},
    {"datagrams", "Всего", true},
    {"bytes", "Байт", true},
    {"rate/s", "Пакетов/с", true},
    {"interval", "Интервал, с", true},
    {"spread", "Разброс, с", true},
    {"silence", "Пауза, с", true},
    {"late", "Опаздывает", false},
    {"missed", "Пропусков", true},
    {"restarts", "Рестарты", true},
    {"restarted", "Посл. рестарт", false},
    {"last seen", "Посл. прием", false},
}};

/// One cell: its text and the value it sorts by (the number a numeric cell shows).
struct StatisticsCell {
    std::string text;
    double sortValue = 0.0;

    friend bool operator==(const StatisticsCell&, const StatisticsCell&) = default;
};
using StatisticsRow = std::array<StatisticsCell, kDeviceColumnCount>;

/// Every device in registry order as of `nowMs`. Seconds have two decimals, the rate one;
/// a device never restarted shows "-" as its restart time.
std::vector<StatisticsRow> deviceRows(const BusStatistics& statistics, std::int64_t nowMs,
                                      const FormatSettings& format, StatisticsLanguage language);

/// One line of the bus totals: a count and, for drops, the sender of the last one.
struct TotalRow {
    std::string item;
    std::uint64_t count = 0;
    std::string lastSender;

    friend bool operator==(const TotalRow&, const TotalRow&) = default;
};

/// The traffic mix: datagrams by device type and message class, in type and class order.
std::vector<TotalRow> mixRows(const BusStatistics& statistics, StatisticsLanguage language);
/// Drops by reason. `monitor` leaves out the reasons only a capture sees and adds the
/// kernel's drops on the socket; every reason is listed, counted or not.
std::vector<TotalRow> dropRows(const BusStatistics& statistics, bool monitor,
                               StatisticsLanguage language);

/// The event log's entry for a device that has turned late, e.g.
/// "FA:CE:01:00:11:22 (Тирон, 10.0.0.5) молчит 3,50 с при обычном интервале 1,00 с".
std::string lateDeviceText(const DeviceStatisticsView& view, const FormatSettings& format);

/// Seconds of a millisecond count with two decimals and the locale's separator ("1.25").
std::string secondsText(double ms, const FormatSettings& format);

}  // namespace qvlink
