#pragma once

// The only way states, values, time tags, times and ages become text.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bus_types.h"

namespace qvlink {

/// Locale separators, read once from the user's locale; tests set them directly.
struct FormatSettings {
    std::string decimalSeparator = ".";
    std::string timeSeparator = ":";

    /// Separators of the user's locale (LC_NUMERIC and LC_TIME of the environment).
    static FormatSettings fromSystemLocale();
};

/// The separator between hours and minutes of a strftime time format ("%H:%M:%S" -> ":",
/// "%H.%M.%S" -> "."); ":" when the format shows none.
std::string timeSeparatorOf(std::string_view timeFormat);

/// True for a two-position (double point) signal.
bool isDoublePoint(std::uint8_t flags);
/// "вкл", "откл", "авария" or "обрыв".
std::string tsStateText(std::uint8_t flags);
/// "1"/"0" for a one-position signal, "11"/"10"/"01"/"00" for a two-position one.
std::string tsCodeText(std::uint8_t flags);
/// Fixed point with two decimals, halves rounded away from zero on the value's
/// 18-significant-digit expansion; "NAN", "INF", "-INF" for the special values.
std::string tiValueText(float value, const FormatSettings& format);
/// "hh:mm:ss.zzz" of the tag's whole bytes, or "-" when its month is 0.
std::string timestampText(const TTimeTag& tag);
/// "hh:nn:ss.zzz" with the locale's time separator in place of the colons.
std::string timeOfDayText(const LocalDateTime& time, const FormatSettings& format);
/// "s", "mm:ss" or "hh:mm:ss".
std::string durationText(std::uint16_t seconds);
/// `value` with `decimals` decimals and the locale's separator.
std::string fixedText(double value, int decimals, const FormatSettings& format);

}  // namespace qvlink
