#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/rendering.h"
#include "trend/trend_series.h"

namespace qvlink {

/// "2026-12-09T15:00:01.250": ISO 8601 in local time with milliseconds.
std::string isoLocalTime(std::int64_t timeUs);

/// The samples of `series` inside `span` as UTF-8 CSV: a header "Время;ТИ 17;ТС 5", then one
/// line per distinct sample time with each series' value in its own column (empty where that
/// series has no sample at that time), lines ended by CR LF.
std::string trendCsv(const std::vector<const TrendSeries*>& series, TimeSpan span,
                     const FormatSettings& format);

}  // namespace qvlink
