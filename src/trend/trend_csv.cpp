#include "trend/trend_csv.h"

#include <cstdio>
#include <ctime>
#include <map>

namespace qvlink {

std::string isoLocalTime(std::int64_t timeUs) {
    const std::int64_t millis = timeUs >= 0 ? timeUs / 1000 : (timeUs - 999) / 1000;
    const auto seconds = static_cast<time_t>(millis >= 0 ? millis / 1000 : (millis - 999) / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis - static_cast<std::int64_t>(seconds) * 1000));
    return text;
}

std::string trendCsv(const std::vector<const TrendSeries*>& series, TimeSpan span,
                     const FormatSettings& format) {
    constexpr char kSeparator = ';';
    const char* const kLineEnd = "\r\n";
    // Time -> one cell per series; a series with two samples at one time keeps the later.
    std::map<std::int64_t, std::vector<std::string>> rows;
    for (std::size_t column = 0; column < series.size(); ++column) {
        for (const TrendSample& sample : series[column]->samples()) {
            if (sample.timeUs < span.fromUs || sample.timeUs >= span.toUs) {
                continue;
            }
            auto& cells = rows[sample.timeUs];
            cells.resize(series.size());
            cells[column] = series[column]->valueText(sample.value, format);
        }
    }
    std::string csv = "Время";
    for (const TrendSeries* one : series) {
        csv += kSeparator + one->label();
    }
    csv += kLineEnd;
    for (const auto& [timeUs, cells] : rows) {
        csv += isoLocalTime(timeUs);
        for (const std::string& cell : cells) {
            csv += kSeparator + cell;
        }
        csv += kLineEnd;
    }
    return csv;
}

}  // namespace qvlink
