#include "common/rendering.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qvlink {
namespace {

/// Significant digits a TI value is rounded to before it is rounded to two decimals.
constexpr int kSignificantDigits = 18;
constexpr int kDecimals = 2;
/// Fractional digits that hold the exact value of any float (the smallest is 2^-149).
constexpr int kExactFractionDigits = 149;

/// The exact decimal expansion of a finite, non-negative float, with a leading zero digit
/// that takes the carry of a rounding.
class DecimalExpansion {
public:
    explicit DecimalExpansion(float magnitude) {
        // A float widened to double prints exactly with 149 fractional digits: nothing is
        // rounded by the conversion itself. to_chars writes the same digits as printf, at a
        // fraction of the cost (a refresh converts every TI value), and always with a '.'.
        std::array<char, 64 + kExactFractionDigits> text{};
        const std::to_chars_result written =
            std::to_chars(text.data(), text.data() + text.size(), static_cast<double>(magnitude),
                          std::chars_format::fixed, kExactFractionDigits);
        m_digits[0] = '0';
        m_length = 1;
        for (const char* p = text.data(); p != written.ptr; ++p) {
            const char c = *p;
            if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
                m_digits[static_cast<std::size_t>(m_length++)] = c;
            } else if (m_point == 0) {
                m_point = m_length;
            }
        }
    }

    /// Rounds half away from zero to `count` significant digits; in a value of 10^18 or more
    /// the integer digits after them become zeros.
    void roundToSignificantDigits(int count) {
        const char* first = std::find_if(m_digits.data(), m_digits.data() + m_length,
                                         [](char digit) { return digit != '0'; });
        roundAt(static_cast<int>(first - m_digits.data()) + count);
    }

    /// Rounds half away from zero to `count` digits after the point.
    void roundToDecimals(int count) { roundAt(m_point + count); }

    /// The integer digits without leading zeros ("0" for none), the separator and `count`
    /// fractional digits.
    void appendFixed(int count, const std::string& separator, std::string& out) const {
        int first = 0;
        while (first < m_point - 1 && m_digits[static_cast<std::size_t>(first)] == '0') {
            ++first;
        }
        out.append(m_digits.data() + first, static_cast<std::size_t>(m_point - first));
        out += separator;
        out.append(m_digits.data() + m_point, static_cast<std::size_t>(count));
    }

private:
    /// Drops every digit from index `cut` on, adding one to the digit before it when the
    /// first dropped digit is 5 or more.
    void roundAt(int cut) {
        if (cut >= m_length) {
            return;
        }
        if (m_digits[static_cast<std::size_t>(cut)] >= '5') {
            int at = cut - 1;
            while (m_digits[static_cast<std::size_t>(at)] == '9') {
                m_digits[static_cast<std::size_t>(at--)] = '0';
            }
            ++m_digits[static_cast<std::size_t>(at)];
        }
        std::fill(m_digits.data() + cut, m_digits.data() + m_length, '0');
    }

    std::array<char, 64 + kExactFractionDigits> m_digits{};
    int m_length = 0;
    int m_point = 0;  ///< index of the first fractional digit
};

/// A text of the locale, or `fallback` when it is empty or cannot be passed on as UTF-8.
std::string localeText(const char* text, bool utf8Locale, const char* fallback) {
    const std::string_view view = text != nullptr ? text : "";
    const bool ascii = std::all_of(view.begin(), view.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !view.empty() && (ascii || utf8Locale) ? std::string(view) : std::string(fallback);
}

bool isHourConversion(char conversion) {
    return conversion == 'H' || conversion == 'I' || conversion == 'k' || conversion == 'l';
}

/// `value` in `width` decimal digits with leading zeros; the caller keeps it in range.
void appendFixedDigits(int value, int width, std::string& text) {
    char digits[4];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    text.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string timeSeparatorOf(std::string_view timeFormat) {
    constexpr std::string_view kModifiers = "-_0^#EO";
    for (std::size_t i = 0; i < timeFormat.size(); ++i) {
        if (timeFormat[i] != '%') {
            continue;
        }
        std::size_t at = i + 1;
        while (at < timeFormat.size() && kModifiers.find(timeFormat[at]) != kModifiers.npos) {
            ++at;
        }
        if (at >= timeFormat.size()) {
            break;
        }
        const char conversion = timeFormat[at];
        if (conversion == 'T' || conversion == 'R' || conversion == 'r') {
            return ":";
        }
        if (isHourConversion(conversion)) {
            const char next = at + 1 < timeFormat.size() ? timeFormat[at + 1] : '\0';
            const bool usable = std::ispunct(static_cast<unsigned char>(next)) != 0 && next != '%';
            return usable ? std::string(1, next) : ":";
        }
        i = at;
    }
    return ":";
}

FormatSettings FormatSettings::fromSystemLocale() {
    FormatSettings settings;
    // A private locale object: the process's global locale stays as it is.
    locale_t locale = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK | LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) {
        return settings;
    }
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
    settings.decimalSeparator = localeText(nl_langinfo_l(RADIXCHAR, locale), utf8, ".");
    settings.timeSeparator = timeSeparatorOf(nl_langinfo_l(T_FMT, locale));
    freelocale(locale);
    return settings;
}

bool isDoublePoint(std::uint8_t flags) {
    return (flags & kFlagDoublePoint) != 0;
}

std::string tsStateText(std::uint8_t flags) {
    if (!isDoublePoint(flags)) {
        return (flags & kFlagState) != 0 ? "вкл" : "откл";
    }
    switch (flags & (kFlagHighBit | kFlagState)) {
        case kFlagHighBit | kFlagState:
            return "авария";
        case kFlagHighBit:
            return "вкл";
        case kFlagState:
            return "откл";
        default:
            return "обрыв";
    }
}

std::string tsCodeText(std::uint8_t flags) {
    const char state = (flags & kFlagState) != 0 ? '1' : '0';
    if (!isDoublePoint(flags)) {
        return std::string(1, state);
    }
    return {(flags & kFlagHighBit) != 0 ? '1' : '0', state};
}

std::string tiValueText(float value, const FormatSettings& format) {
    const char* sign = std::signbit(value) ? "-" : "";
    if (std::isnan(value)) {
        return std::string(sign) + "NAN";
    }
    if (std::isinf(value)) {
        return std::string(sign) + "INF";
    }
    DecimalExpansion expansion(std::fabs(value));
    expansion.roundToSignificantDigits(kSignificantDigits);
    expansion.roundToDecimals(kDecimals);
    // Fixed notation shows "-" for every negative value, also one that rounds to 0.00; a
    // negative zero is not a negative value and shows as 0.00.
    std::string text = value < 0.0F ? "-" : "";
    expansion.appendFixed(kDecimals, format.decimalSeparator, text);
    return text;
}

std::string timestampText(const TTimeTag& tag) {
    if (tag.month == 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", tag.hour, tag.minute, tag.msec / 1000,
                  tag.msec % 1000);
    return text;
}

std::string timeOfDayText(const LocalDateTime& time, const FormatSettings& format) {
    // Every traced datagram needs one: the usual ranges are written digit by digit, anything
    // else as printf writes it.
    if (time.hour < 0 || time.hour > 99 || time.minute < 0 || time.minute > 99 || time.second < 0 ||
        time.second > 99 || time.msec < 0 || time.msec > 999) {
        char hours[16];
        char minutes[16];
        char rest[32];
        std::snprintf(hours, sizeof hours, "%02d", time.hour);
        std::snprintf(minutes, sizeof minutes, "%02d", time.minute);
        std::snprintf(rest, sizeof rest, "%02d.%03d", time.second, time.msec);
        return hours + format.timeSeparator + minutes + format.timeSeparator + rest;
    }
    std::string text;
    text.reserve(10 + 2 * format.timeSeparator.size());
    appendFixedDigits(time.hour, 2, text);
    text += format.timeSeparator;
    appendFixedDigits(time.minute, 2, text);
    text += format.timeSeparator;
    appendFixedDigits(time.second, 2, text);
    text += '.';
    appendFixedDigits(time.msec, 3, text);
    return text;
}

std::string durationText(std::uint16_t seconds) {
    // Every device and every valid point has one at every refresh: written digit by digit.
    const int n = seconds;
    if (n < 60) {
        return std::to_string(n);
    }
    std::string text;
    if (n >= 3600) {
        appendFixedDigits(n / 3600, 2, text);
        text += ':';
    }
    appendFixedDigits(n % 3600 / 60, 2, text);
    text += ':';
    appendFixedDigits(n % 60, 2, text);
    return text;
}

std::string fixedText(double value, int decimals, const FormatSettings& format) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out(text, static_cast<std::size_t>(length));
    if (const std::size_t point = out.find('.'); point != std::string::npos) {
        out.replace(point, 1, format.decimalSeparator);
    }
    return out;
}

}  // namespace qvlink
